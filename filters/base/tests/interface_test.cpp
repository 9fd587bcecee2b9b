// What each base class answers to QueryInterface, the reference counts that pins and
// enumerators share with their filter, enumerators, the filter state machine outside a
// graph, and the property page's dirty state and Apply.
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include "filters/base/tests/page_site.h"

#include "filters/base/property_page.h"
#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/passthrough_filter.h"
#include "filters/base/tests/test_filters.h"

namespace {

using comtest::RefCount;
using testfilters::CTestPushSource;
using testfilters::CTestSink;

testfilters::SourceConfig SmallSource() {
    testfilters::SourceConfig config;
    testfilters::VideoStreamConfig video;
    video.subtype = &MEDIASUBTYPE_RGB32;
    video.frames = 2;
    EXPECT_EQ(testfilters::MakeVideoStream(video, &config.type, &config.samples), S_OK);
    return config;
}

class InterfaceTest : public testing::Test {
protected:
    comtest::ComScope com;
};

TEST_F(InterfaceTest, FilterAndPinMatrices) {
    CTestPushSource* source = CTestPushSource::Create(SmallSource());
    CTestSink* sink = CTestSink::Create({});
    ASSERT_TRUE(source && sink);
    IBaseFilter* transform = comtest::LoadPassThrough(kClsidPassThrough);
    ASSERT_NE(transform, nullptr);

    // CBaseFilter as such (the source adds nothing).
    CHECK_INTERFACES(static_cast<IBaseFilter*>(source), IFACE_ROW(IID_IPersist, true),
                     IFACE_ROW(IID_IMediaFilter, true), IFACE_ROW(IID_IBaseFilter, true),
                     IFACE_ROW(IID_IAMFilterMiscFlags, false), IFACE_ROW(IID_IPin, false),
                     IFACE_ROW(IID_IMediaSeeking, false), IFACE_ROW(IID_IQualityControl, false),
                     IFACE_ROW(IID_IPersistStream, false), IFACE_ROW(IID_ISpecifyPropertyPages, false));
    // A derived filter adds its own.
    CHECK_INTERFACES(static_cast<IBaseFilter*>(sink), IFACE_ROW(IID_IBaseFilter, true),
                     IFACE_ROW(IID_IAMFilterMiscFlags, true), IFACE_ROW(IID_IMemInputPin, false));
    // CTransformFilter, created through the library's class factory.
    CHECK_INTERFACES(transform, IFACE_ROW(IID_IPersist, true), IFACE_ROW(IID_IMediaFilter, true),
                     IFACE_ROW(IID_IBaseFilter, true), IFACE_ROW(IID_IPin, false), IFACE_ROW(IID_IMemInputPin, false),
                     IFACE_ROW(IID_IMediaSeeking, false));

    IPin* output = comtest::FindPinByDirection(static_cast<IBaseFilter*>(source), PINDIR_OUTPUT);
    IPin* input = comtest::FindPinByDirection(static_cast<IBaseFilter*>(sink), PINDIR_INPUT);
    IPin* xformIn = comtest::FindPinByDirection(transform, PINDIR_INPUT);
    IPin* xformOut = comtest::FindPinByDirection(transform, PINDIR_OUTPUT);
    ASSERT_TRUE(output && input && xformIn && xformOut);
    CHECK_INTERFACES(output, IFACE_ROW(IID_IPin, true), IFACE_ROW(IID_IQualityControl, true),
                     IFACE_ROW(IID_IMemInputPin, false), IFACE_ROW(IID_IBaseFilter, false),
                     IFACE_ROW(IID_IMediaSeeking, false));
    CHECK_INTERFACES(input, IFACE_ROW(IID_IPin, true), IFACE_ROW(IID_IQualityControl, true),
                     IFACE_ROW(IID_IMemInputPin, true), IFACE_ROW(IID_IBaseFilter, false),
                     IFACE_ROW(IID_IMediaSeeking, false));
    CHECK_INTERFACES(xformIn, IFACE_ROW(IID_IPin, true), IFACE_ROW(IID_IMemInputPin, true),
                     IFACE_ROW(IID_IBaseFilter, false));
    CHECK_INTERFACES(xformOut, IFACE_ROW(IID_IPin, true), IFACE_ROW(IID_IQualityControl, true),
                     IFACE_ROW(IID_IMemInputPin, false));

    // A pin's count is its filter's.
    EXPECT_EQ(RefCount(output), RefCount(static_cast<IBaseFilter*>(source)));
    EXPECT_EQ(RefCount(transform), 3u);  // ours and the two pins we hold
    xformIn->Release();
    xformOut->Release();
    output->Release();
    input->Release();
    EXPECT_EQ(transform->Release(), 0u);
    EXPECT_EQ(source->Release(), 0u);
    EXPECT_EQ(sink->Release(), 0u);
}

TEST_F(InterfaceTest, PinInformationAndIds) {
    IBaseFilter* transform = comtest::LoadPassThrough(kClsidPassThrough);
    ASSERT_NE(transform, nullptr);
    IPin* pin = nullptr;
    ASSERT_EQ(transform->FindPin(L"In", &pin), S_OK);
    PIN_INFO info{};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_STREQ(info.achName, L"XForm In");
    EXPECT_EQ(info.pFilter, transform);
    EXPECT_EQ(RefCount(transform), 3u) << "QueryPinInfo adds a reference on the filter";
    info.pFilter->Release();
    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    IPin* again = nullptr;
    EXPECT_EQ(transform->FindPin(id, &again), S_OK) << "FindPin answers the pin's own id";
    EXPECT_EQ(again, pin);
    CoTaskMemFree(id);
    if (again) again->Release();
    pin->Release();
    IPin* none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(transform->FindPin(L"Nothing", &none), VFW_E_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    // Unconnected pins answer for their connection with the documented codes.
    ASSERT_EQ(transform->FindPin(L"Out", &pin), S_OK);
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    AM_MEDIA_TYPE type;
    EXPECT_EQ(pin->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    EXPECT_EQ(types->Next(1, &first, nullptr), S_FALSE) << "no output types before the input is connected";
    types->Release();
    pin->Release();
    EXPECT_EQ(transform->Release(), 0u);
}

TEST_F(InterfaceTest, EnumeratorsHoldTheFilterAndNoticeChanges) {
    CTestSink* sink = CTestSink::Create({});
    ASSERT_NE(sink, nullptr);
    IEnumPins* pins = nullptr;
    ASSERT_EQ(sink->EnumPins(&pins), S_OK);
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(sink)), 2u);
    IPin* got[2] = {};
    ULONG fetched = 9;
    EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    got[0]->Release();
    EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG) << "more than one needs a count";
    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(2), S_FALSE);
    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(1), S_OK);
    IEnumPins* clone = nullptr;
    ASSERT_EQ(pins->Clone(&clone), S_OK);
    sink->IncrementPinVersion();
    EXPECT_EQ(clone->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    got[0]->Release();
    clone->Release();
    pins->Release();
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(sink)), 1u);

    testfilters::SourceConfig config = SmallSource();
    config.moreTypes.push_back(config.type);
    config.moreTypes.back().subtype = MEDIASUBTYPE_RGB24;
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(source->OutputPin()->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* list[3] = {};
    ASSERT_EQ(types->Next(3, list, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(list[0]->subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(list[1]->subtype, MEDIASUBTYPE_RGB24);
    DeleteMediaType(list[0]);
    DeleteMediaType(list[1]);
    source->OutputPin()->IncrementTypeVersion();
    EXPECT_EQ(types->Next(1, list, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    types->Release();
    EXPECT_EQ(source->Release(), 0u);
    EXPECT_EQ(sink->Release(), 0u);
}

TEST_F(InterfaceTest, StateMachineClockAndGraphMembership) {
    CTestSink* sink = CTestSink::Create({});
    ASSERT_NE(sink, nullptr);
    IBaseFilter* filter = sink;
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(filter->GetState(0, nullptr), E_POINTER);
    EXPECT_EQ(filter->Run(0), S_OK) << "Run from Stopped passes through Paused";
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(filter->Pause(), S_OK);
    EXPECT_EQ(sink->State(), State_Paused);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(sink->State(), State_Stopped);

    IReferenceClock* clock = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                               reinterpret_cast<void**>(&clock)),
              S_OK);
    REFERENCE_TIME time;
    EXPECT_EQ(sink->StreamTime(&time), VFW_E_NO_CLOCK);
    const ULONG clockRefs = RefCount(clock);
    EXPECT_EQ(filter->SetSyncSource(clock), S_OK);
    EXPECT_EQ(RefCount(clock), clockRefs + 1);
    IReferenceClock* got = nullptr;
    EXPECT_EQ(filter->GetSyncSource(&got), S_OK);
    EXPECT_EQ(got, clock);
    got->Release();
    EXPECT_EQ(sink->StreamTime(&time), S_OK);
    EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
    EXPECT_EQ(RefCount(clock), clockRefs);
    clock->Release();

    IFilterGraph* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    EXPECT_EQ(graph->AddFilter(filter, L"recording sink"), S_OK);
    FILTER_INFO info{};
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"recording sink");
    EXPECT_EQ(info.pGraph, graph);
    if (info.pGraph) info.pGraph->Release();
    EXPECT_EQ(sink->NotifyEvent(EC_USER, 0, 0), S_OK) << "events reach the graph's sink";
    EXPECT_EQ(graph->RemoveFilter(filter), S_OK);
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(sink->NotifyEvent(EC_USER, 0, 0), E_NOTIMPL) << "out of a graph no event is sent";
    EXPECT_EQ(graph->Release(), 0u);
    LPWSTR vendor = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(filter->QueryVendorInfo(&vendor), E_NOTIMPL);
    EXPECT_EQ(vendor, nullptr);
    EXPECT_EQ(sink->Release(), 0u);
}

// A filter of two input pins that count their state calls; either pin's Run can fail.
class CCountingPin final : public CBaseInputPin {
public:
    CCountingPin(CBaseFilter* filter, CCritSec* lock, const wchar_t* name)
        : CBaseInputPin(L"counting pin", filter, lock, nullptr, name) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT Active() override {
        ++actives;
        return CBaseInputPin::Active();
    }
    HRESULT Inactive() override {
        ++inactives;
        return CBaseInputPin::Inactive();
    }
    HRESULT Run(REFERENCE_TIME start) override {
        ++runs;
        return FAILED(runError) ? runError : CBaseInputPin::Run(start);
    }
    int actives = 0, inactives = 0, runs = 0;
    HRESULT runError = S_OK;
};

class CTwoPinFilter final : public CBaseFilter {
public:
    CTwoPinFilter() : CBaseFilter(L"two pins", nullptr, &lock, GUID_NULL) {}
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n == 0 ? &first : n == 1 ? &second : nullptr; }
    CCritSec lock;
    CCountingPin first{this, &lock, L"In0"};
    CCountingPin second{this, &lock, L"In1"};
};

TEST_F(InterfaceTest, FailedRunRollsThePinsBack) {
    auto* filter = new CTwoPinFilter;
    filter->AddRef();
    CTestPushSource* sources[2] = {CTestPushSource::Create(SmallSource()), CTestPushSource::Create(SmallSource())};
    ASSERT_EQ(sources[0]->OutputPin()->Connect(&filter->first, nullptr), S_OK);
    ASSERT_EQ(sources[1]->OutputPin()->Connect(&filter->second, nullptr), S_OK);
    CCountingPin& first = filter->first;
    CCountingPin& second = filter->second;

    second.runError = E_ACCESSDENIED;
    EXPECT_EQ(filter->Run(0), E_ACCESSDENIED);
    EXPECT_EQ(filter->State(), State_Stopped) << "a failed Run from Stopped ends Stopped";
    EXPECT_EQ(first.runs, 1);
    EXPECT_EQ(first.actives, 1);
    EXPECT_EQ(first.inactives, 1) << "the pin already running is made inactive";
    EXPECT_EQ(second.actives, 1);
    EXPECT_EQ(second.inactives, 1);

    ASSERT_EQ(filter->Pause(), S_OK);
    EXPECT_EQ(filter->Run(0), E_ACCESSDENIED);
    EXPECT_EQ(filter->State(), State_Paused) << "a failed Run from Paused stays Paused";
    EXPECT_EQ(first.inactives + second.inactives, 2) << "paused pins stay active";
    second.runError = S_OK;
    EXPECT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->State(), State_Running);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(first.inactives, 2);
    EXPECT_EQ(second.inactives, 2);

    EXPECT_EQ(first.Disconnect(), S_OK);
    EXPECT_EQ(second.Disconnect(), S_OK);
    for (CTestPushSource* source : sources) {
        EXPECT_EQ(source->OutputPin()->Disconnect(), S_OK);
        EXPECT_EQ(source->Release(), 0u);
    }
    EXPECT_EQ(filter->Release(), 0u);
}

// ---- property page ----

class TestPage final : public CBasePropertyPage {
public:
    TestPage() : CBasePropertyPage(L"test page", nullptr, 100, 1) {}
    HRESULT OnConnect(IUnknown* object) override {
        ++connects;
        return object->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    }
    HRESULT OnDisconnect() override {
        ++disconnects;
        if (filter) filter->Release();
        filter = nullptr;
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        ++applies;
        return applyResult;
    }
    void MarkDirty() { SetDirty(true); }
    IBaseFilter* filter = nullptr;
    int connects = 0, disconnects = 0, applies = 0;
    HRESULT applyResult = S_OK;
};

TEST_F(InterfaceTest, PropertyPageDirtyStateAndApply) {
    auto* page = new TestPage;
    page->NonDelegatingAddRef();
    IPropertyPage* ipage = page;
    CHECK_INTERFACES(ipage, IFACE_ROW(IID_IPropertyPage, true), IFACE_ROW(IID_IPropertyPage2, false),
                     IFACE_ROW(IID_IBaseFilter, false));
    comtest::RecordingSite site;
    EXPECT_EQ(ipage->SetPageSite(&site), S_OK);
    EXPECT_EQ(site.refs, 2u);
    EXPECT_EQ(ipage->Apply(), E_UNEXPECTED) << "nothing to apply to before SetObjects";

    CTestSink* sink = CTestSink::Create({});
    IUnknown* object = static_cast<IBaseFilter*>(sink);
    EXPECT_EQ(ipage->SetObjects(1, &object), S_OK);
    EXPECT_EQ(page->connects, 1);
    EXPECT_EQ(ipage->IsPageDirty(), S_FALSE);
    EXPECT_EQ(ipage->Apply(), S_OK);
    EXPECT_EQ(page->applies, 0) << "a clean page applies nothing";

    page->MarkDirty();
    EXPECT_EQ(site.lastStatus, static_cast<DWORD>(PROPPAGESTATUS_DIRTY));
    EXPECT_EQ(ipage->IsPageDirty(), S_OK);
    page->applyResult = E_FAIL;
    EXPECT_EQ(ipage->Apply(), E_FAIL);
    EXPECT_EQ(ipage->IsPageDirty(), S_OK) << "a failed apply keeps the changes pending";
    page->applyResult = S_OK;
    EXPECT_EQ(ipage->Apply(), S_OK);
    EXPECT_EQ(page->applies, 2);
    EXPECT_EQ(ipage->IsPageDirty(), S_FALSE);
    EXPECT_EQ(site.lastStatus, static_cast<DWORD>(PROPPAGESTATUS_VALIDATE));

    EXPECT_EQ(ipage->Deactivate(), E_UNEXPECTED) << "not active";
    EXPECT_EQ(ipage->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->disconnects, 1);
    EXPECT_EQ(ipage->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(ipage->Release(), 0u);
}

}  // namespace

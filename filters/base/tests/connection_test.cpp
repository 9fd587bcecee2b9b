// The connection rules of the pins, as tables of cases: the order of the checks, the
// order in which types are tried, and the full rollback when the allocator cannot be
// set up.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/test_filters.h"

namespace {

using comtest::RefCount;
using testfilters::CTestPushSource;
using testfilters::CTestSink;
using testfilters::SampleSpec;

CMediaType Video(const GUID& subtype) {
    CMediaType type;
    EXPECT_EQ(BuildVideoType({&subtype, 16, 16, 400000}, &type), S_OK);
    return type;
}

// The source offers `first` then `more`; it accepts exactly the types it offers.
CTestPushSource* Source(const GUID& first, std::vector<GUID> more = {}, HRESULT buffer_error = S_OK) {
    testfilters::SourceConfig config;
    config.type = Video(first);
    for (const GUID& g : more)
        config.more_types.push_back(Video(g));
    config.buffer_size = 16 * 16 * 4;
    config.decide_buffer_size_error = buffer_error;
    return CTestPushSource::Create(std::move(config));
}

CTestSink* Sink(std::vector<GUID> accepted, std::vector<GUID> offered = {}, HRESULT allocator_error = S_OK) {
    testfilters::SinkConfig config;
    config.accepted_subtypes = std::move(accepted);
    for (const GUID& g : offered)
        config.offered_types.push_back(Video(g));
    config.notify_allocator_error = allocator_error;
    return CTestSink::Create(std::move(config));
}

class ConnectionTest : public testing::Test {
protected:
    comtest::ComScope com;
};

// Several failing conditions at once: the first in the order null pin, direction,
// already connected, not stopped decides the answer. Each row is run against the
// output pin's Connect and, where it applies, the input pin's ReceiveConnection.
struct CheckCase {
    const char* name;
    bool null_pin;
    bool wrong_direction;
    bool already_connected;
    bool running;
    HRESULT expected;
};

TEST_F(ConnectionTest, ChecksComeInTheirOrder) {
    const CheckCase cases[] = {
        {"null", true, false, false, false, E_POINTER},
        {"null beats everything", true, true, true, true, E_POINTER},
        {"direction", false, true, false, false, VFW_E_INVALID_DIRECTION},
        {"direction beats connected and running", false, true, true, true, VFW_E_INVALID_DIRECTION},
        {"connected", false, false, true, false, VFW_E_ALREADY_CONNECTED},
        {"connected beats running", false, false, true, true, VFW_E_ALREADY_CONNECTED},
        {"running", false, false, false, true, VFW_E_NOT_STOPPED},
        {"all clear", false, false, false, false, S_OK},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestPushSource* source = Source(MEDIASUBTYPE_RGB32);
        CTestPushSource* other_source = Source(MEDIASUBTYPE_RGB32);
        CTestSink* sink = Sink({});
        CTestSink* other_sink = Sink({});
        IPin* out = source->OutputPin();
        IPin* in = sink->InputPin();
        if (c.already_connected) {
            ASSERT_EQ(out->Connect(other_sink->InputPin(), nullptr), S_OK);
        }
        if (c.running) {
            ASSERT_EQ(source->Run(0), S_OK);
        }
        IPin* target = c.null_pin ? nullptr : c.wrong_direction ? static_cast<IPin*>(other_source->OutputPin()) : in;
        EXPECT_EQ(out->Connect(target, nullptr), c.expected);

        // The receiving side, with the roles mirrored: the sink is the one connected
        // or running.
        if (!c.null_pin) {
            CTestSink* receiver = Sink({});
            if (c.already_connected) {
                ASSERT_EQ(other_source->OutputPin()->Connect(receiver->InputPin(), nullptr), S_OK);
            }
            if (c.running) {
                ASSERT_EQ(receiver->Run(0), S_OK);
            }
            IPin* connector = c.wrong_direction ? static_cast<IPin*>(sink->InputPin()) : static_cast<IPin*>(out);
            CMediaType type = Video(MEDIASUBTYPE_RGB32);
            // (The clear row's output pin is connected by now, so it has no mirror.)
            if (c.expected != S_OK) {
                EXPECT_EQ(receiver->InputPin()->ReceiveConnection(connector, &type), c.expected);
            }
            receiver->Stop();
            receiver->InputPin()->Disconnect();
            IPin* back = nullptr;
            if (other_source->OutputPin()->ConnectedTo(&back) == S_OK) {
                back->Release();
                other_source->OutputPin()->Disconnect();
            }
            EXPECT_EQ(receiver->Release(), 0u);
        }

        source->Stop();
        for (CBasePin* pin : {static_cast<CBasePin*>(source->OutputPin()), static_cast<CBasePin*>(sink->InputPin()),
                              static_cast<CBasePin*>(other_sink->InputPin())}) {
            IPin* peer = nullptr;
            if (pin->ConnectedTo(&peer) == S_OK) {
                peer->Disconnect();
                peer->Release();
                pin->Disconnect();
            }
        }
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(other_source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(other_sink->Release(), 0u);
    }
}

// Which type a connection ends with, and which types the sink was asked about.
struct TypeCase {
    const char* name;
    std::vector<GUID> source_offers;  // first is the source's preferred type
    std::vector<GUID> sink_offers;
    std::vector<GUID> sink_accepts;  // empty: all
    const GUID* exact;               // Connect with a fully specified type
    const GUID* partial_subtype;     // Connect with a partial type (video, this subtype)
    HRESULT expected;
    const GUID* connected_with;
    std::vector<GUID> sink_checked;
};

TEST_F(ConnectionTest, TypesAreTriedExactThenPeerThenOurs) {
    const GUID& rgb32 = MEDIASUBTYPE_RGB32;
    const GUID& rgb24 = MEDIASUBTYPE_RGB24;
    const GUID& yuy2 = MEDIASUBTYPE_YUY2;
    const GUID& uyvy = MEDIASUBTYPE_UYVY;
    const TypeCase cases[] = {
        {"peer's types first", {rgb32, yuy2}, {rgb24, yuy2}, {}, nullptr, nullptr, S_OK, &yuy2, {yuy2}},
        {"then ours", {rgb32, yuy2}, {rgb24}, {yuy2}, nullptr, nullptr, S_OK, &yuy2, {rgb32, yuy2}},
        {"ours in order", {rgb32, yuy2}, {}, {}, nullptr, nullptr, S_OK, &rgb32, {rgb32}},
        {"exact type only", {rgb32, yuy2}, {rgb32}, {}, &yuy2, nullptr, S_OK, &yuy2, {yuy2}},
        {"exact type refused", {rgb32, yuy2}, {}, {rgb32}, &yuy2, nullptr, VFW_E_TYPE_NOT_ACCEPTED, nullptr, {yuy2}},
        {"exact type we do not give", {rgb32}, {}, {}, &uyvy, nullptr, VFW_E_TYPE_NOT_ACCEPTED, nullptr, {}},
        {"partial type filters", {rgb32, yuy2}, {rgb32, yuy2}, {}, nullptr, &yuy2, S_OK, &yuy2, {yuy2}},
        {"nothing fits", {rgb32}, {rgb24}, {uyvy}, nullptr, nullptr, VFW_E_NO_ACCEPTABLE_TYPES, nullptr, {rgb32}},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestPushSource* source =
            Source(c.source_offers[0], std::vector<GUID>(c.source_offers.begin() + 1, c.source_offers.end()));
        CTestSink* sink = Sink(c.sink_accepts, c.sink_offers);
        CMediaType requested;
        const AM_MEDIA_TYPE* type = nullptr;
        if (c.exact) {
            requested = Video(*c.exact);
            type = &requested;
        } else if (c.partial_subtype) {
            requested = CMediaType(&MEDIATYPE_Video);
            requested.subtype = *c.partial_subtype;
            type = &requested;
        }
        EXPECT_EQ(source->OutputPin()->Connect(sink->InputPin(), type), c.expected);
        if (c.connected_with) {
            AM_MEDIA_TYPE got;
            ASSERT_EQ(sink->InputPin()->ConnectionMediaType(&got), S_OK);
            EXPECT_EQ(got.subtype, *c.connected_with);
            EXPECT_TRUE(CMediaType(got) == source->OutputPin()->CurrentMediaType());
            FreeMediaType(got);
        }
        EXPECT_EQ(sink->CheckedSubtypes(), c.sink_checked);
        source->OutputPin()->Disconnect();
        sink->InputPin()->Disconnect();
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
    }
}

// A connection whose allocator cannot be set up leaves both pins as they were.
struct RollbackCase {
    const char* name;
    HRESULT notify_allocator_error;
    HRESULT decide_buffer_size_error;
    bool exact;
};

TEST_F(ConnectionTest, AllocatorFailureRollsBackFully) {
    const RollbackCase cases[] = {
        {"peer refuses every allocator", E_ACCESSDENIED, S_OK, false},
        {"peer refuses, exact type", E_ACCESSDENIED, S_OK, true},
        {"buffer size cannot be set", S_OK, E_ACCESSDENIED, false},
    };
    for (const RollbackCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestPushSource* source = Source(MEDIASUBTYPE_RGB32, {}, c.decide_buffer_size_error);
        CTestSink* sink = Sink({}, {}, c.notify_allocator_error);
        CMediaType exact = Video(MEDIASUBTYPE_RGB32);
        EXPECT_EQ(source->OutputPin()->Connect(sink->InputPin(), c.exact ? &exact : nullptr), E_ACCESSDENIED);
        for (CBasePin* pin : {static_cast<CBasePin*>(source->OutputPin()), static_cast<CBasePin*>(sink->InputPin())}) {
            IPin* peer = reinterpret_cast<IPin*>(1);
            EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
            EXPECT_EQ(peer, nullptr);
            EXPECT_EQ(pin->CurrentMediaType().majortype, GUID_NULL) << "the type is cleared";
        }
        EXPECT_EQ(source->OutputPin()->Allocator(), nullptr);
        EXPECT_EQ(source->OutputPin()->InputPin(), nullptr) << "the peer's IMemInputPin is released";
        EXPECT_EQ(sink->InputPin()->Allocator(), nullptr);
        EXPECT_GE(sink->Counts().break_connects, 1) << "the peer's half of the connection was undone";
        EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(sink)), 1u) << "no reference left on the peer";
        EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 1u);
        EXPECT_EQ(source->Pause(), S_OK) << "an unconnected filter still changes state";
        EXPECT_EQ(source->Stop(), S_OK);
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
    }
}

TEST_F(ConnectionTest, DisconnectRules) {
    CTestPushSource* source = Source(MEDIASUBTYPE_RGB32);
    CTestSink* sink = Sink({});
    EXPECT_EQ(source->OutputPin()->Disconnect(), S_FALSE) << "nothing to disconnect";
    ASSERT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), S_OK);
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(sink)), 3u) << "the connection holds the peer's IPin and IMemInputPin";
    ASSERT_NE(sink->InputPin()->Allocator(), nullptr) << "the peer was told the allocator";
    EXPECT_EQ(sink->Pause(), S_OK);
    EXPECT_EQ(sink->InputPin()->Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(sink->Stop(), S_OK);
    EXPECT_EQ(sink->InputPin()->Disconnect(), S_OK);
    EXPECT_EQ(source->OutputPin()->Disconnect(), S_OK);
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(sink)), 1u);
    EXPECT_EQ(source->Release(), 0u);
    EXPECT_EQ(sink->Release(), 0u);
}

}  // namespace

namespace {

// What the input pin answers to streaming calls in each state, fed directly with
// samples from the connection's allocator.
TEST_F(ConnectionTest, StreamingCallsFollowTheState) {
    testfilters::SourceConfig config;
    config.type = Video(MEDIASUBTYPE_RGB32);
    config.buffer_size = 64;
    config.send_end_of_stream = false;  // an idle source: the test delivers
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    testfilters::SinkConfig sink_config;
    sink_config.accepted_subtypes = {MEDIASUBTYPE_RGB32};
    CTestSink* sink = CTestSink::Create(sink_config);
    IMemInputPin* input = nullptr;
    ASSERT_EQ(sink->InputPin()->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)), S_OK);
    ASSERT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), S_OK);
    ASSERT_EQ(source->Pause(), S_OK);  // commits the allocator

    IMediaSample* samples[3] = {};
    for (IMediaSample*& sample : samples) {
        ASSERT_EQ(source->OutputPin()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
        sample->SetActualDataLength(8);
        REFERENCE_TIME start = 10, stop = 20;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
    }

    EXPECT_EQ(input->Receive(samples[0]), VFW_E_WRONG_STATE) << "sink stopped";
    EXPECT_EQ(input->Receive(nullptr), E_POINTER);
    ASSERT_EQ(sink->Pause(), S_OK);
    EXPECT_EQ(input->Receive(samples[0]), S_OK);
    EXPECT_EQ(input->ReceiveCanBlock(), S_FALSE) << "the sink never blocks";
    long processed = -1;
    EXPECT_EQ(input->ReceiveMultiple(samples, 3, &processed), S_OK);
    EXPECT_EQ(processed, 3);
    EXPECT_EQ(sink->InputPin()->BeginFlush(), S_OK);
    EXPECT_EQ(input->Receive(samples[0]), S_FALSE) << "flushing";
    EXPECT_EQ(input->ReceiveMultiple(samples, 3, &processed), S_FALSE);
    EXPECT_EQ(processed, 0);
    EXPECT_EQ(sink->InputPin()->EndFlush(), S_OK);
    EXPECT_EQ(input->Receive(samples[1]), S_OK);

    // A type change to a type the pin refuses stops at the pin.
    CMediaType refused = Video(MEDIASUBTYPE_YUY2);
    samples[2]->SetMediaType(&refused);
    EXPECT_EQ(input->Receive(samples[2]), VFW_E_INVALIDMEDIATYPE);
    samples[2]->SetMediaType(nullptr);

    const std::vector<SampleSpec> got = sink->Samples();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].bytes.size(), 8u);
    EXPECT_TRUE(got[0].has_start && got[0].has_stop && got[0].sync);
    EXPECT_EQ(got[0].start, 10);
    EXPECT_EQ(got[0].stop, 20);

    ASSERT_EQ(sink->InputPin()->EndOfStream(), S_OK);
    EXPECT_EQ(sink->Counts().end_of_streams, 1);
    for (IMediaSample* sample : samples)
        sample->Release();
    EXPECT_EQ(sink->Stop(), S_OK);
    EXPECT_EQ(sink->InputPin()->EndOfStream(), VFW_E_WRONG_STATE);
    EXPECT_EQ(source->Stop(), S_OK);
    source->OutputPin()->Disconnect();
    sink->InputPin()->Disconnect();
    EXPECT_EQ(sink->InputPin()->EndOfStream(), VFW_E_NOT_CONNECTED);
    input->Release();
    EXPECT_EQ(source->Release(), 0u);
    EXPECT_EQ(sink->Release(), 0u);
}

}  // namespace

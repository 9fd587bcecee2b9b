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
CTestPushSource* Source(const GUID& first, std::vector<GUID> more = {}, HRESULT bufferError = S_OK) {
    testfilters::SourceConfig config;
    config.type = Video(first);
    for (const GUID& g : more)
        config.moreTypes.push_back(Video(g));
    config.bufferSize = 16 * 16 * 4;
    config.decideBufferSizeError = bufferError;
    return CTestPushSource::Create(std::move(config));
}

CTestSink* Sink(std::vector<GUID> accepted, std::vector<GUID> offered = {}, HRESULT allocatorError = S_OK) {
    testfilters::SinkConfig config;
    config.acceptedSubtypes = std::move(accepted);
    for (const GUID& g : offered)
        config.offeredTypes.push_back(Video(g));
    config.notifyAllocatorError = allocatorError;
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
    bool nullPin;
    bool wrongDirection;
    bool alreadyConnected;
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
        CTestPushSource* otherSource = Source(MEDIASUBTYPE_RGB32);
        CTestSink* sink = Sink({});
        CTestSink* otherSink = Sink({});
        IPin* out = source->OutputPin();
        IPin* in = sink->InputPin();
        if (c.alreadyConnected) {
            ASSERT_EQ(out->Connect(otherSink->InputPin(), nullptr), S_OK);
        }
        if (c.running) {
            ASSERT_EQ(source->Run(0), S_OK);
        }
        IPin* target = c.nullPin ? nullptr : c.wrongDirection ? static_cast<IPin*>(otherSource->OutputPin()) : in;
        EXPECT_EQ(out->Connect(target, nullptr), c.expected);

        // The receiving side, with the roles mirrored: the sink is the one connected
        // or running.
        if (!c.nullPin) {
            CTestSink* receiver = Sink({});
            if (c.alreadyConnected) {
                ASSERT_EQ(otherSource->OutputPin()->Connect(receiver->InputPin(), nullptr), S_OK);
            }
            if (c.running) {
                ASSERT_EQ(receiver->Run(0), S_OK);
            }
            IPin* connector = c.wrongDirection ? static_cast<IPin*>(sink->InputPin()) : static_cast<IPin*>(out);
            CMediaType type = Video(MEDIASUBTYPE_RGB32);
            // (The clear row's output pin is connected by now, so it has no mirror.)
            if (c.expected != S_OK) {
                EXPECT_EQ(receiver->InputPin()->ReceiveConnection(connector, &type), c.expected);
            }
            receiver->Stop();
            receiver->InputPin()->Disconnect();
            IPin* back = nullptr;
            if (otherSource->OutputPin()->ConnectedTo(&back) == S_OK) {
                back->Release();
                otherSource->OutputPin()->Disconnect();
            }
            EXPECT_EQ(receiver->Release(), 0u);
        }

        source->Stop();
        for (CBasePin* pin : {static_cast<CBasePin*>(source->OutputPin()), static_cast<CBasePin*>(sink->InputPin()),
                              static_cast<CBasePin*>(otherSink->InputPin())}) {
            IPin* peer = nullptr;
            if (pin->ConnectedTo(&peer) == S_OK) {
                peer->Disconnect();
                peer->Release();
                pin->Disconnect();
            }
        }
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(otherSource->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(otherSink->Release(), 0u);
    }
}

// Which type a connection ends with, and which types the sink was asked about.
struct TypeCase {
    const char* name;
    std::vector<GUID> sourceOffers;  // first is the source's preferred type
    std::vector<GUID> sinkOffers;
    std::vector<GUID> sinkAccepts;  // empty: all
    const GUID* exact;              // Connect with a fully specified type
    const GUID* partialSubtype;     // Connect with a partial type (video, this subtype)
    HRESULT expected;
    const GUID* connectedWith;
    std::vector<GUID> sinkChecked;
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
            Source(c.sourceOffers[0], std::vector<GUID>(c.sourceOffers.begin() + 1, c.sourceOffers.end()));
        CTestSink* sink = Sink(c.sinkAccepts, c.sinkOffers);
        CMediaType requested;
        const AM_MEDIA_TYPE* type = nullptr;
        if (c.exact) {
            requested = Video(*c.exact);
            type = &requested;
        } else if (c.partialSubtype) {
            requested = CMediaType(&MEDIATYPE_Video);
            requested.subtype = *c.partialSubtype;
            type = &requested;
        }
        EXPECT_EQ(source->OutputPin()->Connect(sink->InputPin(), type), c.expected);
        if (c.connectedWith) {
            AM_MEDIA_TYPE got;
            ASSERT_EQ(sink->InputPin()->ConnectionMediaType(&got), S_OK);
            EXPECT_EQ(got.subtype, *c.connectedWith);
            EXPECT_TRUE(CMediaType(got) == source->OutputPin()->CurrentMediaType());
            FreeMediaType(got);
        }
        EXPECT_EQ(sink->CheckedSubtypes(), c.sinkChecked);
        source->OutputPin()->Disconnect();
        sink->InputPin()->Disconnect();
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
    }
}

// A connection whose allocator cannot be set up leaves both pins as they were.
struct RollbackCase {
    const char* name;
    HRESULT notifyAllocatorError;
    HRESULT decideBufferSizeError;
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
        CTestPushSource* source = Source(MEDIASUBTYPE_RGB32, {}, c.decideBufferSizeError);
        CTestSink* sink = Sink({}, {}, c.notifyAllocatorError);
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
        EXPECT_GE(sink->Counts().breakConnects, 1) << "the peer's half of the connection was undone";
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
    config.bufferSize = 64;
    config.sendEndOfStream = false;  // an idle source: the test delivers
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    testfilters::SinkConfig sinkConfig;
    sinkConfig.acceptedSubtypes = {MEDIASUBTYPE_RGB32};
    CTestSink* sink = CTestSink::Create(sinkConfig);
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
    EXPECT_TRUE(got[0].hasStart && got[0].hasStop && got[0].sync);
    EXPECT_EQ(got[0].start, 10);
    EXPECT_EQ(got[0].stop, 20);

    ASSERT_EQ(sink->InputPin()->EndOfStream(), S_OK);
    EXPECT_EQ(sink->Counts().endOfStreams, 1);
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

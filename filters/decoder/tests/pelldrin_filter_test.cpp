// The decoder filter object on its own: input and output type rules, the offered output
// types and palette, quality messages, the settings behind IKestruneConfig (stream and
// registry), and the output pin's flow control.
#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/decoder/colour_convert.h"
#include "filters/decoder/output_types.h"
#include "filters/decoder/pelldrin_filter.h"
#include "filters/decoder/pelldrin_ids.h"
#include "filters/decoder/tests/pelldrin_test_util.h"

namespace {

using pelldrin::CPelldrinoder;
using pelldrintest::ByteStreamType;

class PelldrinFilterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        HRESULT hr = S_OK;
        CUnknown* made = CPelldrinoder::CreateInstance(nullptr, &hr);
        ASSERT_NE(made, nullptr);
        ASSERT_EQ(hr, S_OK);
        made->NonDelegatingAddRef();
        filter_ = static_cast<CPelldrinoder*>(made);
        ASSERT_EQ(filter_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config_)), S_OK);
    }
    void TearDown() override {
        if (config_) config_->Release();
        if (filter_) {
            EXPECT_EQ(filter_->NonDelegatingRelease(), 0u);
        }
    }

    HRESULT Set(const GUID& key, VARTYPE type, LONG value) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = type;
        if (type == VT_BOOL)
            V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
        else
            V_I4(&v) = value;
        return config_->SetValue(&key, &v);
    }
    LONG Get(const GUID& key) {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(config_->GetValue(&key, &v), S_OK);
        VariantChangeType(&v, &v, 0, VT_I4);
        return V_I4(&v);
    }
    void SetInput(const CMediaType& type) {
        ASSERT_EQ(filter_->CheckInputType(&type), S_OK);
        ASSERT_EQ(filter_->SetMediaType(PINDIR_INPUT, &type), S_OK);
    }

    comtest::ComScope com_;
    CPelldrinoder* filter_ = nullptr;
    IKestruneConfig* config_ = nullptr;
};

TEST_F(PelldrinFilterTest, InputTypes) {
    struct Case {
        const GUID* major;
        const GUID* subtype;
        HRESULT want;
    };
    const GUID h264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    const Case cases[] = {
        {&MEDIATYPE_Video, &kMediaSubtypeVssh, S_OK},
        {&MEDIATYPE_Stream, &MEDIASUBTYPE_KestruneH264, S_OK},
        {&MEDIATYPE_Video, &kMediaSubtypeAvc1, S_OK},  // VIDEOINFOHEADER: start codes
        {&MEDIATYPE_Audio, &kMediaSubtypeVssh, VFW_E_TYPE_NOT_ACCEPTED},
        {&MEDIATYPE_Video, &h264, VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const Case& c : cases) {
        CMediaType type = ByteStreamType(*c.subtype, 64, 48, 400000);
        type.SetType(c.major);
        EXPECT_EQ(filter_->CheckInputType(&type), c.want);
    }
    // 'AVC1' in an MPEG-2 video format names its length size: 1, 2 or 4 bytes.
    for (int size : {1, 2, 3, 4, 0}) {
        const CMediaType type = pelldrintest::Avc1Type(64, 48, 400000, size, {});
        EXPECT_EQ(filter_->CheckInputType(&type), size == 3 || size == 0 ? VFW_E_TYPE_NOT_ACCEPTED : S_OK) << size;
    }
}

TEST_F(PelldrinFilterTest, OutputTypeListAndPalette) {
    CMediaType input = ByteStreamType(kMediaSubtypeVssh, 1920, 1088, 400000);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(input.Format());
    vih->rcSource = {0, 0, 1920, 1080};
    SetInput(input);
    struct Row {
        const GUID* subtype;
        const GUID* format;
        ULONG size;
    };
    const Row rows[16] = {
        {&MEDIASUBTYPE_UYVY, &FORMAT_VideoInfo2, 112},   {&MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo2, 112},
        {&MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo2, 112},  {&MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo2, 112},
        {&MEDIASUBTYPE_RGB565, &FORMAT_VideoInfo2, 124}, {&MEDIASUBTYPE_RGB555, &FORMAT_VideoInfo2, 112},
        {&MEDIASUBTYPE_RGB8, &FORMAT_VideoInfo2, 1136},  {&MEDIASUBTYPE_YV12, &FORMAT_VideoInfo2, 112},
        {&MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, 100},    {&MEDIASUBTYPE_UYVY, &FORMAT_VideoInfo, 100},
        {&MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, 100},   {&MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo, 100},
        {&MEDIASUBTYPE_RGB565, &FORMAT_VideoInfo, 100},  {&MEDIASUBTYPE_RGB555, &FORMAT_VideoInfo, 100},
        {&MEDIASUBTYPE_RGB8, &FORMAT_VideoInfo, 1112},   {&MEDIASUBTYPE_YV12, &FORMAT_VideoInfo, 88}};
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        CMediaType type;
        ASSERT_EQ(filter_->GetMediaType(i, &type), S_OK);
        EXPECT_EQ(type.subtype, *rows[i].subtype);
        EXPECT_EQ(type.formattype, *rows[i].format);
        EXPECT_EQ(type.FormatLength(), rows[i].size);
        const BITMAPINFOHEADER* bmi = GetBitmapHeader(type);
        ASSERT_NE(bmi, nullptr);
        EXPECT_EQ(bmi->biWidth, 1920);
        EXPECT_EQ(bmi->biHeight, 1080) << "cropped rows, bottom-up";
        EXPECT_EQ(type.lSampleSize, bmi->biSizeImage);
        EXPECT_EQ(type.bTemporalCompression, FALSE);
        // Every offered type is one the filter takes back.
        EXPECT_EQ(filter_->CheckTransform(&input, &type), S_OK);
        if (i == 6) {
            const RGBQUAD* palette = reinterpret_cast<const RGBQUAD*>(type.Format() + sizeof(VIDEOINFOHEADER2));
            EXPECT_EQ(bmi->biClrUsed, 256u);
            EXPECT_EQ(palette[10 + 12 + 26 + 78].rgbRed, 15 + 9 * 12);
            EXPECT_EQ(palette[244].rgbGreen, 0);
            EXPECT_EQ(palette[85].rgbGreen, 255);
        }
        if (i == 0) {
            auto* v2 = reinterpret_cast<const VIDEOINFOHEADER2*>(type.Format());
            EXPECT_EQ(v2->rcSource.bottom, 1080);
            EXPECT_EQ(v2->dwInterlaceFlags, 0x41u);
            EXPECT_EQ(v2->dwBitRate, static_cast<DWORD>(1920ull * 1080 * 2 * 8 * 25));
        }
    }
    CMediaType past;
    EXPECT_EQ(filter_->GetMediaType(16, &past), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter_->GetMediaType(-1, &past), E_INVALIDARG);
    // Without EnableVideoInfo only the VIDEOINFOHEADER2 types are offered.
    ASSERT_EQ(Set(kDecoderEnableVideoInfo, VT_BOOL, 0), S_OK);
    ASSERT_EQ(config_->Commit(nullptr), S_OK);
    EXPECT_EQ(filter_->GetMediaType(8, &past), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter_->GetMediaType(7, &past), S_OK);
    // An input without a frame rate gives a bit rate of 0, never an overflow marker.
    SetInput(ByteStreamType(kMediaSubtypeVssh, 64, 48, 0));
    CMediaType type;
    ASSERT_EQ(filter_->GetMediaType(2, &type), S_OK);
    EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER2*>(type.Format())->dwBitRate, 0u);
}

TEST_F(PelldrinFilterTest, CheckTransformRefusesWhatCannotBeWritten) {
    const CMediaType input = ByteStreamType(kMediaSubtypeVssh, 64, 48, 400000);
    SetInput(input);
    CMediaType good;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB24, 64, 48, 400000}, &good), S_OK);
    EXPECT_EQ(filter_->CheckTransform(&input, &good), S_OK);
    CMediaType narrow;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB24, 32, 48, 400000}, &narrow), S_OK);
    EXPECT_EQ(filter_->CheckTransform(&input, &narrow), VFW_E_TYPE_NOT_ACCEPTED);
    // An 8-bit type outside the known subtypes: the converter has no form for it.
    CMediaType eight = good;
    eight.SetSubtype(&MEDIASUBTYPE_RGB4);
    reinterpret_cast<VIDEOINFOHEADER*>(eight.Format())->bmiHeader.biBitCount = 8;
    EXPECT_EQ(filter_->CheckTransform(&input, &eight), VFW_E_TYPE_NOT_ACCEPTED);
    // A 16-bit type of another subtype converts as 5-5-5.
    CMediaType sixteen = good;
    sixteen.SetSubtype(&MEDIASUBTYPE_RGB4);
    auto* bmi = &reinterpret_cast<VIDEOINFOHEADER*>(sixteen.Format())->bmiHeader;
    bmi->biBitCount = 16;
    bmi->biSizeImage = 64 * 48 * 2;
    EXPECT_EQ(filter_->CheckTransform(&input, &sixteen), S_OK);
    CMediaType audio = good;
    audio.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(filter_->CheckTransform(&input, &audio), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(filter_->CheckTransform(&input, nullptr), E_POINTER);
}

TEST_F(PelldrinFilterTest, QualityMessagesSetLatenessAndSkipLevel) {
    IPin* out = filter_->GetPin(1);
    ASSERT_NE(out, nullptr);
    IQualityControl* quality = nullptr;
    ASSERT_EQ(out->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)), S_OK);
    auto late = [&](REFERENCE_TIME l) {
        Quality q{Famine, 1000, l, 0};
        return quality->Notify(filter_, q);
    };
    struct Step {
        REFERENCE_TIME late;
        int level;
        REFERENCE_TIME lateness;
    };
    // Late of 2.4 s after 0.4 s selects level 2; after lateness 0 it selects nothing new.
    const Step steps[] = {{400000, 0, 400000},   {2400000, 2, 2400000}, {-5, 2, 0},
                          {2400000, 2, 2400000}, {1000000, 1, 1000000}, {300000, 0, 300000}};
    for (const Step& s : steps) {
        EXPECT_EQ(late(s.late), S_OK) << "not passed upstream";
        EXPECT_EQ(filter_->CurrentSkipLevel(), s.level) << s.late;
        EXPECT_EQ(filter_->Lateness(), s.lateness) << s.late;
    }
    late(0);
    EXPECT_EQ(late(2400000), S_OK);
    EXPECT_EQ(filter_->CurrentSkipLevel(), 0) << "first late message after lateness 0";
    // While the decoding level is fixed, quality messages change nothing.
    ASSERT_EQ(Set(kDecoderDecodingLevel, VT_I4, 1), S_OK);
    ASSERT_EQ(config_->Commit(nullptr), S_OK);
    late(0);
    const REFERENCE_TIME before = filter_->Lateness();
    EXPECT_EQ(late(1000000), S_OK);
    EXPECT_EQ(filter_->Lateness(), before);
    // Decoding only reference pictures is skip level 1 at once.
    ASSERT_EQ(Set(kDecoderDecodingLevel, VT_I4, 2), S_OK);
    ASSERT_EQ(config_->Commit(nullptr), S_OK);
    EXPECT_EQ(filter_->CurrentSkipLevel(), 1);
    quality->Release();
}

TEST_F(PelldrinFilterTest, SettingsPersistInStreams) {
    EXPECT_NE(Get(kDecoderEnableVideoInfo), 0);
    EXPECT_EQ(Get(kDecoderErrorResilienceMode), 1);
    // A VT_I4 for the unsigned DeinterlaceMode is converted and stored.
    EXPECT_EQ(Set(kDecoderDeinterlaceMode, VT_I4, 1), S_FALSE);
    EXPECT_EQ(Get(kDecoderDeinterlaceMode), 1);
    ASSERT_EQ(Set(kDecoderErrorResilienceMode, VT_I4, 3), S_OK);
    ASSERT_EQ(Set(kDecoderUpsampleHq, VT_BOOL, 1), S_OK);
    ULARGE_INTEGER max{};
    ASSERT_EQ(config_->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, 216u);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(config_->Save(stream, TRUE), S_OK);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 216u);
    // The read-only picture value answers without a running core.
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(config_->GetValue(&kDecoderPictureValue, &v), E_FAIL);

    // Into another filter: the values arrive.
    HRESULT hr = S_OK;
    CUnknown* other = CPelldrinoder::CreateInstance(nullptr, &hr);
    ASSERT_NE(other, nullptr);
    other->NonDelegatingAddRef();
    IKestruneConfig* otherConfig = nullptr;
    ASSERT_EQ(other->NonDelegatingQueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&otherConfig)), S_OK);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(otherConfig->Load(stream), S_OK);
    VariantInit(&v);
    ASSERT_EQ(otherConfig->GetValue(&kDecoderErrorResilienceMode, &v), S_OK);
    EXPECT_EQ(V_I4(&v), 3);
    // A stream of version 2 is refused and changes nothing.
    std::vector<BYTE> bytes(216);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), 216, &read);
    bytes[16] = 2;
    IStream* v2 = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &v2), S_OK);
    v2->Write(bytes.data(), 216, nullptr);
    v2->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(Set(kDecoderErrorResilienceMode, VT_I4, 0), S_OK);
    EXPECT_EQ(config_->Load(v2), E_FAIL);
    EXPECT_EQ(Get(kDecoderErrorResilienceMode), 0);
    v2->Release();
    stream->Release();
    otherConfig->Release();
    EXPECT_EQ(other->NonDelegatingRelease(), 0u);
}

TEST_F(PelldrinFilterTest, RegistrySettingsAreReadBounded) {
    pelldrintest::SettingsKeyLock lock;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, pelldrin::kDecoderRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    auto dword = [&](const char* name, DWORD value) {
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    };
    dword("DecodingLevel", 7);        // out of range: the default stays
    dword("ErrorResilienceMode", 3);  // taken
    dword("DeinterlaceMode", 1);
    RegSetValueExA(key, "UpsampleHQ", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);  // wrong type
    const BYTE eight[8] = {1};
    RegSetValueExA(key, "InvertFieldOrder", 0, REG_BINARY, eight, 8);  // wrong size
    HRESULT hr = S_OK;
    CUnknown* made = CPelldrinoder::CreateInstance(nullptr, &hr);
    ASSERT_NE(made, nullptr);
    made->NonDelegatingAddRef();
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(made->NonDelegatingQueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    auto value = [&](const GUID& k) {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(config->GetValue(&k, &v), S_OK);
        VariantChangeType(&v, &v, 0, VT_I4);
        return V_I4(&v);
    };
    EXPECT_EQ(value(kDecoderDecodingLevel), 0);
    EXPECT_EQ(value(kDecoderErrorResilienceMode), 3);
    EXPECT_EQ(value(kDecoderDeinterlaceMode), 1);
    EXPECT_EQ(value(kDecoderUpsampleHq), 0);
    EXPECT_EQ(value(kDecoderInvertFieldOrder), 0);
    config->Release();
    EXPECT_EQ(made->NonDelegatingRelease(), 0u);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, pelldrin::kDecoderRegistryKey);
}

TEST_F(PelldrinFilterTest, FlowControlBlockRules) {
    IPin* out = filter_->GetPin(1);
    IPinFlowControl* flow = nullptr;
    ASSERT_EQ(out->QueryInterface(IID_IPinFlowControl, reinterpret_cast<void**>(&flow)), S_OK);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(flow->Block(3, nullptr), E_INVALIDARG);
    EXPECT_EQ(flow->Block(0, event), E_INVALIDARG);
    // Not streaming: the block completes at once.
    EXPECT_EQ(flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, event), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, event), VFW_E_PIN_ALREADY_BLOCKED_ON_THIS_THREAD);
    EXPECT_EQ(flow->Block(0, nullptr), S_OK);
    EXPECT_EQ(flow->Block(0, nullptr), S_OK) << "unblocking an unblocked pin";
    // A synchronous block returns once nobody uses the pin.
    EXPECT_EQ(flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, nullptr), S_OK);
    EXPECT_EQ(flow->Block(0, nullptr), S_OK);
    CloseHandle(event);
    flow->Release();
    // Pages: About first, then settings.
    ISpecifyPropertyPages* pages = nullptr;
    ASSERT_EQ(filter_->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages)), S_OK);
    CAUUID ids{};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 2u);
    EXPECT_EQ(ids.pElems[0], CLSID_KestruneAvcDecoderAboutPage);
    EXPECT_EQ(ids.pElems[1], CLSID_KestruneAvcDecoderSettingsPage);
    CoTaskMemFree(ids.pElems);
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
    pages->Release();
}

}  // namespace

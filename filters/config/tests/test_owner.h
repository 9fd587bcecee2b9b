// A small COM owner for the configuration object, as a filter embeds it: the owner's
// IUnknown answers the configuration IIDs with its embedded part, the part delegates its
// IUnknown back; one settings record and table per build; streams for the tests.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filters/config/config_impl.h"

namespace kestrune::test {

// {6A1C0001-0000-4000-8000-00000000C0DE} and friends: keys made up for the tests.
constexpr GUID TestGuid(std::uint8_t n) {
    return {0x6A1C0000u + n, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
}
inline constexpr CLSID kOwnerClsid = TestGuid(0xFF);

// Encoder-like record: integers as VT_INT, a flag kept in a 32-bit word, version 21.
struct EncRecord {
    std::int32_t gop = 0;
    std::int32_t quality = 0;
    std::int32_t frames = 0;  // read-only counter
    std::int32_t flagWord = 0;
    bool operator==(const EncRecord&) const = default;
};
inline constexpr GUID kEncGop = TestGuid(1), kEncQuality = TestGuid(2), kEncFrames = TestGuid(3),
                      kEncFlag = TestGuid(4);

// Decoder-like record: flags, an enumeration and an unsigned word, version 1.
enum class Level : std::int32_t { obey = 0, all = 1, reference = 2 };
struct DecRecord {
    bool videoInfo = false;
    Level level = Level::obey;
    std::uint32_t deinterlace = 0;
    bool invert = false;
    bool operator==(const DecRecord&) const = default;
};
inline constexpr GUID kDecVideoInfo = TestGuid(0x11), kDecLevel = TestGuid(0x12), kDecDeinterlace = TestGuid(0x13),
                      kDecInvert = TestGuid(0x14);

// Multiplexer-like record: named values with lists, a range, a hidden counter, version 16.
struct MuxRecord {
    std::int32_t output = 0;
    bool flag = false;
    std::int64_t time = 0;
    std::int8_t counter = 0;
    std::int32_t bitrate = 0;
    bool operator==(const MuxRecord&) const = default;
};
inline constexpr GUID kMuxOutput = TestGuid(0x21), kMuxFlag = TestGuid(0x22), kMuxTime = TestGuid(0x23),
                      kMuxCounter = TestGuid(0x24), kMuxRate = TestGuid(0x25);

template <class Build, class Record>
class TestConfig final : public CKestruneConfig<Build, Record> {
public:
    TestConfig(IUnknown* owner, Record* record, std::uint32_t version)
        : CKestruneConfig<Build, Record>(owner, &kOwnerClsid, record), ownVersion(version) {
        this->SetVersion(version);
    }
    HRESULT CheckVersion() override {
        ++checkCalls;
        return this->Version() == ownVersion ? S_OK : E_FAIL;
    }
    HRESULT OnChange(VARIANT* message) override {
        ++changeCalls;
        {
            std::lock_guard guard(this->ValuesLock());
            applied = *this->Record();
        }
        if (!failChange) return S_OK;
        if (message) {
            V_VT(message) = VT_BSTR;
            V_BSTR(message) = SysAllocString(L"refused");
        }
        return E_FAIL;
    }

    std::uint32_t ownVersion;
    int checkCalls = 0;
    int changeCalls = 0;
    bool failChange = false;
    Record applied{};
};

inline void BuildTable(TestConfig<EncoderBuild, EncRecord>& c, EncRecord& r) {
    c.AddValue(&kEncGop, true, &EncRecord::gop, 30);
    c.AddValue(&kEncQuality, true, &EncRecord::quality, 10);
    c.AddValue(&kEncFrames, false, &EncRecord::frames, 0);
    c.AddTypedValue(&kEncFlag, true, nullptr, true, &r.flagWord, 1, VT_BOOL);
}

inline void BuildTable(TestConfig<DecoderBuild, DecRecord>& c, DecRecord&) {
    c.AddValue(&kDecVideoInfo, true, &DecRecord::videoInfo, true, "EnableVideoInfo");
    c.AddValue(&kDecLevel, true, &DecRecord::level, Level::obey);
    c.AddValue(&kDecDeinterlace, true, &DecRecord::deinterlace, 0u);
    c.AddValue(&kDecInvert, true, &DecRecord::invert, false);
}

inline void BuildTable(TestConfig<MuxerBuild, MuxRecord>& c, MuxRecord&) {
    auto* output = c.AddValue(&kMuxOutput, true, "Output", true, &MuxRecord::output, 0);
    auto outputs = std::make_unique<CKestruneConfigEnumList>();
    outputs->AddInt("PS", 0);
    outputs->AddInt("TS", 1);
    outputs->AddInt("DVD-PS", 2);
    output->SetEnumList(std::move(outputs));
    auto* flag = c.AddValue(&kMuxFlag, true, "Flag", true, &MuxRecord::flag, false);
    auto flags = std::make_unique<CKestruneConfigEnumList>();
    flags->AddFlag("Off", false);
    flags->AddFlag("On", true);
    flag->SetEnumList(std::move(flags));
    c.AddValue(&kMuxTime, false, "Muxer time", true, &MuxRecord::time, std::int64_t{0x100000000});
    c.AddValue(&kMuxCounter, true, "Counter", false, &MuxRecord::counter, std::int8_t{3});
    c.AddValue(&kMuxRate, true, "Bit rate", true, &MuxRecord::bitrate, 8000)->SetRange(2047, 512001);
}

// The filter: a plain COM object whose QueryInterface answers the configuration interfaces
// with its embedded part.
template <class Build, class Record>
class TestOwner final : public IUnknown {
public:
    explicit TestOwner(std::uint32_t version) : config(this, &record, version) {
        BuildTable(config, record);
        config.ResetAll();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown))
            *out = static_cast<IUnknown*>(this);
        else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStream) ||
                 IsEqualIID(iid, IID_IKestruneConfig) || (Build::kExtended && IsEqualIID(iid, IID_IKestruneConfigEx)))
            *out = static_cast<IKestruneConfig*>(&config);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    LONG refs = 1;
    Record record;
    TestConfig<Build, Record> config;
};

using EncOwner = TestOwner<EncoderBuild, EncRecord>;
using DecOwner = TestOwner<DecoderBuild, DecRecord>;
using MuxOwner = TestOwner<MuxerBuild, MuxRecord>;

// Releases the owner at the end of a test; the reference count must come back to zero.
template <class Owner>
struct OwnerRef {
    Owner* owner;
    explicit OwnerRef(std::uint32_t version) : owner(new Owner(version)) {}
    ~OwnerRef() { owner->Release(); }
    Owner* operator->() const { return owner; }
};

// VARIANTs for calls: a 32-bit value under any integer type tag, and a new BSTR.
inline VARIANT Int(VARTYPE type, LONG x) {
    VARIANT v{};
    V_VT(&v) = type;
    V_I4(&v) = x;
    return v;
}
inline VARIANT Text(const wchar_t* s) {
    VARIANT v{};
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(s);
    return v;
}

struct ScopedVariantT {
    VARIANT v;
    ScopedVariantT() { VariantInit(&v); }
    ~ScopedVariantT() { VariantClear(&v); }
};

// An IStream over a byte vector that accepts `budget` bytes of writes and then fails, and
// can be told to fail its reads.
class TestStream final : public IStream {
public:
    explicit TestStream(std::vector<std::uint8_t> bytes = {}, std::size_t budget = SIZE_MAX)
        : bytes_(std::move(bytes)), budget_(budget) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE Read(void* dst, ULONG n, ULONG* got) override {
        if (pos_ >= failReadsAt) return STG_E_ACCESSDENIED;
        const std::size_t take = std::min<std::size_t>(n, bytes_.size() - std::min(pos_, bytes_.size()));
        if (take) std::memcpy(dst, bytes_.data() + pos_, take);
        pos_ += take;
        if (got) *got = static_cast<ULONG>(take);
        return take < n ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* src, ULONG n, ULONG* written) override {
        const std::size_t take = std::min<std::size_t>(n, budget_);
        budget_ -= take;
        if (bytes_.size() < pos_ + take) bytes_.resize(pos_ + take);
        if (take) std::memcpy(bytes_.data() + pos_, src, take);
        pos_ += take;
        if (written) *written = static_cast<ULONG>(take);
        return take < n ? STG_E_MEDIUMFULL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        if (!statWorks) return E_NOTIMPL;
        const long long base = origin == STREAM_SEEK_SET   ? 0
                               : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos_)
                                                           : static_cast<long long>(bytes_.size());
        if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::size_t>(base + move.QuadPart);
        if (position) position->QuadPart = pos_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (!statWorks) return E_NOTIMPL;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::size_t Position() const { return pos_; }
    void Rewind() { pos_ = 0; }

    std::size_t failReadsAt = SIZE_MAX;  // reads from this position on fail
    bool statWorks = true;
    ULONG refs = 1;

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t budget_;
    std::size_t pos_ = 0;
};

}  // namespace kestrune::test

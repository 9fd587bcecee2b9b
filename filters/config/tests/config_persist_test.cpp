// Persistence of each build: streams of known configurations against bytes written by hand
// from the layout, Save/Load round trips of every kind, streams of other builds, damaged,
// truncated and forged streams (nothing changes when one is refused), failing writes, and
// the registry form.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filters/config/tests/stream_bytes.h"
#include "filters/config/tests/test_owner.h"

namespace kestrune::test {
namespace {

void Key(Bytes& b, const GUID& g) {
    b.U32(g.Data1).U16(g.Data2).U16(g.Data3);
    for (std::uint8_t x : g.Data4)
        b.U8(x);
}
// One entry: the value's GUID and its VARIANT block with a 32-bit, 16-bit or 64-bit value.
void Entry32(Bytes& b, const GUID& g, std::uint16_t type, std::uint32_t value) {
    Key(b, g);
    b.U16(type).Zeros(6).U32(value).Zeros(4);
}
void EntryBool(Bytes& b, const GUID& g, bool value) {
    Key(b, g);
    b.U16(VT_BOOL).Zeros(6).U16(value ? 1 : 0).Zeros(6);
}
void EntryText(Bytes& b, const GUID& g, const std::wstring& text) {
    Key(b, g);
    b.U16(VT_BSTR).Zeros(14).U32(static_cast<std::uint32_t>(text.size() * 2));
    for (wchar_t c : text)
        b.U16(static_cast<std::uint16_t>(c));
}
void Header(Bytes& b, std::uint32_t version, std::uint32_t count) {
    b.HeaderGuid().U32(version).U32(count);
}

std::vector<std::uint8_t> Saved(IKestruneConfig* c) {
    TestStream s;
    EXPECT_EQ(c->Save(&s, TRUE), S_OK);
    return s.Bytes();
}

ULONGLONG SizeMax(IKestruneConfig* c) {
    ULARGE_INTEGER size{};
    EXPECT_EQ(c->GetSizeMax(&size), S_OK);
    return size.QuadPart;
}

// A text value, as an owner may define one: the framework itself has no string kind, but
// carries VT_BSTR through its streams.
class TextValue final : public CKestruneConfigValueWrapper {
public:
    TextValue(const GUID* key, std::wstring* field)
        : CKestruneConfigValueWrapper(key, true, nullptr, true), field_(field) {}
    HRESULT GetVariant(VARIANT* out) const override { return Make(*field_, out); }
    HRESULT GetDefaultVariant(VARIANT* out) const override { return Make(L"", out); }
    HRESULT SetVariant(VARIANT* in) override {
        HRESULT result = S_OK;
        if (V_VT(in) != VT_BSTR) {
            if (FAILED(result = VariantChangeType(in, in, 0, VT_BSTR))) return result;
            result = S_FALSE;
        }
        field_->assign(V_BSTR(in), SysStringLen(V_BSTR(in)));
        return result;
    }

private:
    static HRESULT Make(const std::wstring& s, VARIANT* out) {
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        return V_BSTR(out) ? S_OK : E_OUTOFMEMORY;
    }
    std::wstring* field_;
};

// Each build with a known configuration set through the interface, and its stream by hand.
template <class Owner>
struct Known;
template <>
struct Known<EncOwner> {
    static constexpr std::uint32_t kVersion = 21;
    static void Set(EncOwner* o) {
        VARIANT gop = Int(VT_INT, 45);
        ASSERT_EQ(o->config.SetValue(&kEncGop, &gop), S_OK);
        o->record.frames = 7;  // the owner's own read-only value
    }
    static std::vector<std::uint8_t> Golden() {
        Bytes b;
        Header(b, 21, 4);  // v1 writes every value, read-only ones too
        Entry32(b, kEncGop, VT_INT, 45);
        Entry32(b, kEncQuality, VT_INT, 10);
        Entry32(b, kEncFrames, VT_INT, 7);
        EntryBool(b, kEncFlag, true);
        return b.b;
    }
};
template <>
struct Known<DecOwner> {
    static constexpr std::uint32_t kVersion = 1;
    static void Set(DecOwner* o) {
        VARIANT level = Int(VT_I4, 2), deinterlace = Int(VT_UI4, -1);
        ASSERT_EQ(o->config.SetValue(&kDecLevel, &level), S_OK);
        ASSERT_EQ(o->config.SetValue(&kDecDeinterlace, &deinterlace), S_OK);
    }
    static std::vector<std::uint8_t> Golden() {
        Bytes b;
        Header(b, 1, 4);
        EntryBool(b, kDecVideoInfo, true);
        Entry32(b, kDecLevel, VT_I4, 2);
        Entry32(b, kDecDeinterlace, VT_UI4, 0xFFFFFFFF);
        EntryBool(b, kDecInvert, false);
        return b.b;
    }
};
template <>
struct Known<MuxOwner> {
    static constexpr std::uint32_t kVersion = 16;
    static void Set(MuxOwner* o) {
        VARIANT output = Int(VT_I4, 1), flag = Int(VT_BOOL, VARIANT_TRUE);
        ASSERT_EQ(o->config.SetValue(&kMuxOutput, &output), S_OK);
        ASSERT_EQ(o->config.SetValue(&kMuxFlag, &flag), S_OK);
    }
    static std::vector<std::uint8_t> Golden() {
        Bytes b;
        Header(b, 16, 3);  // v2 writes active writable values: not the read-only time, not the hidden counter
        Entry32(b, kMuxOutput, VT_I4, 1);
        b.U32(1);
        EntryBool(b, kMuxFlag, true);
        b.U32(1);
        Entry32(b, kMuxRate, VT_I4, 8000);
        b.U32(1);
        return b.b;
    }
};

template <class Owner>
class ConfigPersist : public ::testing::Test {
protected:
    using K = Known<Owner>;
    OwnerRef<Owner> owner{K::kVersion};
    IKestruneConfig* c = &owner->config;

    // Load must leave everything as it was: values, version and the owner's hook.
    void ExpectRefused(const std::vector<std::uint8_t>& bytes, HRESULT expected, bool statWorks, const char* what) {
        const auto record = owner->record;
        const int changes = owner->config.changeCalls;
        TestStream s(bytes);
        s.statWorks = statWorks;
        const HRESULT hr = c->Load(&s);
        if (expected != S_OK) {
            EXPECT_EQ(hr, expected) << what;
        }
        EXPECT_TRUE(FAILED(hr)) << what;
        EXPECT_TRUE(owner->record == record) << what;
        EXPECT_EQ(owner->config.Version(), K::kVersion) << what;
        EXPECT_EQ(owner->config.changeCalls, changes) << what;
    }
};

using Owners = ::testing::Types<EncOwner, DecOwner, MuxOwner>;
TYPED_TEST_SUITE(ConfigPersist, Owners);

TYPED_TEST(ConfigPersist, StreamOfAKnownConfigurationEqualsTheLayout) {
    using K = Known<TypeParam>;
    K::Set(this->owner.owner);
    const auto golden = K::Golden();
    EXPECT_EQ(Saved(this->c), golden);
    EXPECT_EQ(SizeMax(this->c), golden.size());
}

TYPED_TEST(ConfigPersist, SaveThenLoadRoundTripsEveryKindWithText) {
    using K = Known<TypeParam>;
    const GUID kText = TestGuid(0x31), kWide = TestGuid(0x32), kByte = TestGuid(0x33);
    std::wstring textA, textB;
    std::int64_t wideA = 0, wideB = 0;
    std::int8_t byteA = 0, byteB = 0;
    OwnerRef<TypeParam> other(K::kVersion);
    for (auto* o : {this->owner.owner, other.owner}) {
        const bool a = o == this->owner.owner;
        o->config.AddValue(std::make_unique<TextValue>(&kText, a ? &textA : &textB));
        o->config.AddTypedValue(&kWide, true, nullptr, true, a ? &wideA : &wideB, std::int64_t{0});
        o->config.AddTypedValue(&kByte, true, nullptr, true, a ? &byteA : &byteB, std::int8_t{0});
    }
    K::Set(this->owner.owner);
    textA = L"Caf\u00e9 \u20ac";
    wideA = -0x123456789LL;
    byteA = -100;

    const auto bytes = Saved(this->c);
    EXPECT_EQ(bytes.size(), SizeMax(this->c) + 4 + textA.size() * 2) << "text tails are not in the estimate";
    TestStream s(bytes);
    ASSERT_EQ(other->config.Load(&s), S_OK);
    EXPECT_EQ(s.Position(), bytes.size());
    EXPECT_EQ(other->config.changeCalls, 1);
    EXPECT_EQ(other->config.applied, other->record) << "OnChange ran after the values were in";
    EXPECT_EQ(textB, textA);
    EXPECT_EQ(wideB, wideA);
    EXPECT_EQ(byteB, byteA);
    // Read-only values are written by v1 but never loaded.
    auto expected = this->owner->record;
    if constexpr (std::is_same_v<TypeParam, EncOwner>) expected.frames = 0;
    EXPECT_TRUE(other->record == expected);
}

TYPED_TEST(ConfigPersist, StreamsOfOtherBuildsAndForeignHeadersAreRefused) {
    using K = Known<TypeParam>;
    K::Set(this->owner.owner);
    const std::vector<std::vector<std::uint8_t>> others = {Known<EncOwner>::Golden(), Known<DecOwner>::Golden(),
                                                           Known<MuxOwner>::Golden()};
    for (const auto& stream : others) {
        if (stream == K::Golden()) continue;
        this->ExpectRefused(stream, E_FAIL, true, "another build's version");
    }
    auto foreign = K::Golden();
    foreign[3] ^= 0x01;
    this->ExpectRefused(foreign, E_FAIL, true, "foreign header GUID");
    this->ExpectRefused({}, E_FAIL, true, "empty stream");
}

TYPED_TEST(ConfigPersist, EveryTruncationAndReadFailureChangesNothing) {
    using K = Known<TypeParam>;
    const auto golden = K::Golden();
    for (bool statWorks : {true, false}) {
        for (std::size_t cut = 0; cut < golden.size(); ++cut) {
            const std::string what = "cut " + std::to_string(cut) + (statWorks ? "" : " unsized");
            this->ExpectRefused({golden.begin(), golden.begin() + static_cast<std::ptrdiff_t>(cut)},
                                cut < 20 ? E_FAIL : STG_E_READFAULT, statWorks, what.c_str());
        }
    }
    const auto record = this->owner->record;
    TestStream failing(golden);
    failing.failReadsAt = 30;
    EXPECT_EQ(this->c->Load(&failing), STG_E_ACCESSDENIED) << "the stream's own error";
    EXPECT_TRUE(this->owner->record == record);
}

TYPED_TEST(ConfigPersist, ForgedTypesAreRefusedBeforeAnyConversion) {
    using K = Known<TypeParam>;
    const auto golden = K::Golden();
    const std::size_t entry = std::is_same_v<TypeParam, MuxOwner> ? 36 : 32;
    const std::uint16_t forged[] = {VT_EMPTY,
                                    VT_NULL,
                                    VT_R8,
                                    VT_DATE,
                                    VT_DISPATCH,
                                    VT_UNKNOWN,
                                    VT_VARIANT | VT_BYREF,
                                    VT_I4 | VT_BYREF,
                                    VT_BSTR | VT_BYREF,
                                    VT_I4 | VT_ARRAY,
                                    VT_RECORD,
                                    0xFFFF};
    for (std::size_t at = 24 + 16; at < golden.size(); at += entry) {
        for (std::uint16_t type : forged) {
            auto bytes = golden;
            bytes[at] = static_cast<std::uint8_t>(type);
            bytes[at + 1] = static_cast<std::uint8_t>(type >> 8);
            const std::string what = "type " + std::to_string(type) + " at " + std::to_string(at);
            this->ExpectRefused(bytes, DISP_E_BADVARTYPE, true, what.c_str());
        }
    }
    Bytes count;  // a count far beyond the data, and beyond the cap
    Header(count, K::kVersion, 0x7FFFFFFF);
    this->ExpectRefused(count.b, HRESULT_FROM_WIN32(ERROR_INVALID_DATA), false, "count beyond the cap");
}

TYPED_TEST(ConfigPersist, MutatedStreamsAreLoadedOrRefusedWithoutChange) {
    using K = Known<TypeParam>;
    K::Set(this->owner.owner);
    const auto golden = Saved(this->c);
    const unsigned seed = 4;
    std::mt19937 rng(seed);
    int refused = 0, loaded = 0;
    for (int i = 0; i < 3000; ++i) {
        auto bytes = golden;
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const std::size_t at = rng() % bytes.size();
            switch (rng() % 3) {
                case 0:
                    bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                    break;
                case 1:
                    bytes[at] = static_cast<std::uint8_t>(rng());
                    break;
                default:
                    bytes.resize(at);
                    break;
            }
        }
        const auto record = this->owner->record;
        const int changes = this->owner->config.changeCalls;
        TestStream s(bytes);
        s.statWorks = (i & 1) != 0;
        if (SUCCEEDED(this->c->Load(&s))) {
            ++loaded;
            EXPECT_EQ(this->owner->config.changeCalls, changes + 1);
        } else {
            ++refused;
            ASSERT_TRUE(this->owner->record == record) << "seed " << seed << " run " << i;
            ASSERT_EQ(this->owner->config.changeCalls, changes);
            ASSERT_EQ(this->owner->config.Version(), K::kVersion);
        }
    }
    EXPECT_GT(refused, 300);
    EXPECT_GT(loaded, 300);
}

TYPED_TEST(ConfigPersist, FailedWritesAreReportedForEveryLength) {
    using K = Known<TypeParam>;
    K::Set(this->owner.owner);
    const auto golden = K::Golden();
    for (std::size_t budget = 0; budget < golden.size(); ++budget) {
        TestStream s({}, budget);
        EXPECT_EQ(this->c->Save(&s, TRUE), STG_E_MEDIUMFULL) << budget;
    }
    TestStream exact({}, golden.size());
    EXPECT_EQ(this->c->Save(&exact, TRUE), S_OK);
}

TEST(ConfigPersistV1, EntriesAreMatchedByKeyAndReadOnlyOrUnknownOnesSkipped) {
    OwnerRef<EncOwner> owner(21);
    owner->record.frames = 5;
    Bytes b;
    Header(b, 21, 4);
    EntryText(b, TestGuid(0x77), L"zz");  // unknown, with a text tail to step over
    EntryText(b, kEncQuality, L"12");     // converted on load
    Entry32(b, kEncFrames, VT_INT, 99);   // read-only: skipped
    Entry32(b, kEncGop, VT_INT, 60);      // out of list order
    TestStream s(b.b);
    ASSERT_EQ(owner->config.Load(&s), S_OK);
    EXPECT_EQ(owner->record.quality, 12);
    EXPECT_EQ(owner->record.frames, 5);
    EXPECT_EQ(owner->record.gop, 60);
    EXPECT_EQ(owner->record.flagWord, 1) << "not named in the stream: kept";

    Bytes bad;  // a conversion the value refuses is skipped, the rest still loads
    Header(bad, 21, 2);
    EntryText(bad, kEncQuality, L"abc");
    Entry32(bad, kEncGop, VT_INT, 61);
    TestStream s2(bad.b);
    ASSERT_EQ(owner->config.Load(&s2), S_OK);
    EXPECT_EQ(owner->record.quality, 12);
    EXPECT_EQ(owner->record.gop, 61);
}

TEST(ConfigPersistV2, ActiveFlagsRangesAndUnknownEntriesOnLoad) {
    OwnerRef<MuxOwner> owner(16);
    IKestruneConfigEx* c = &owner->config;
    Bytes b;
    Header(b, 16, 5);
    Entry32(b, TestGuid(0x77), VT_I4, 5);  // unknown: consumed with its flag
    b.U32(1);
    Entry32(b, kMuxOutput, VT_I4, 2);
    b.U32(1);
    EntryBool(b, kMuxFlag, true);
    b.U32(0);                          // inactive after loading
    Entry32(b, kMuxRate, VT_I4, 100);  // outside the range: refused, flag still taken
    b.U32(1);
    Entry32(b, kMuxCounter, VT_I4, 9);  // hidden but known: loaded and shown
    b.U32(1);
    TestStream s(b.b);
    ASSERT_EQ(c->Load(&s), S_OK);
    EXPECT_EQ(owner->record.output, 2);
    EXPECT_TRUE(owner->record.flag);
    EXPECT_EQ(owner->record.bitrate, 8000);
    EXPECT_EQ(owner->record.counter, 9);
    ScopedVariantT v;
    EXPECT_EQ(c->GetValue(&kMuxFlag, &v.v), E_INVALIDARG);
    EXPECT_EQ(c->GetValue(&kMuxCounter, &v.v), S_OK);
    ULONG count = 0;
    c->EnumParameters(&count, nullptr);
    EXPECT_EQ(count, 4u);
    owner->config.failChange = true;
    TestStream again(b.b);
    EXPECT_EQ(c->Load(&again), E_FAIL) << "the owner's refusal is passed on";
}

// A multiplexer-like owner writes its children after the framework's part and reads them
// back after Load, which must stop exactly at the end of its own part.
TEST(ConfigStreamFields, OwnerFieldsFollowTheFrameworksPart) {
    OwnerRef<MuxOwner> owner(16);
    TestStream s;
    ASSERT_EQ(owner->config.Save(&s, FALSE), S_OK);
    ScopedVariantT text;
    text.v = Text(L"child");
    ASSERT_EQ(ConfigStreamWriteDword(&s, 2), S_OK);
    ASSERT_EQ(ConfigStreamWriteGuid(&s, kMuxRate), S_OK);
    ASSERT_EQ(ConfigStreamWriteVariant(&s, text.v), S_OK);
    VARIANT r8{};
    V_VT(&r8) = VT_R8;
    EXPECT_EQ(ConfigStreamWriteVariant(&s, r8), DISP_E_BADVARTYPE) << "only what a reader accepts is written";
    Bytes tail;
    tail.U32(2);
    Key(tail, kMuxRate);
    tail.U16(VT_BSTR).Zeros(14).U32(10);
    for (wchar_t c : std::wstring(L"child"))
        tail.U16(static_cast<std::uint16_t>(c));
    ASSERT_EQ(s.Bytes().size(), 132 + tail.b.size());
    EXPECT_TRUE(std::equal(tail.b.begin(), tail.b.end(), s.Bytes().begin() + 132));

    s.Rewind();
    ASSERT_EQ(owner->config.Load(&s), S_OK);
    std::uint32_t count = 0;
    GUID key{};
    ScopedVariantT back;
    EXPECT_EQ(ConfigStreamReadDword(&s, &count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ConfigStreamReadGuid(&s, &key), S_OK);
    EXPECT_TRUE(IsEqualGUID(key, kMuxRate));
    ASSERT_EQ(ConfigStreamReadVariant(&s, &back.v), S_OK);
    ASSERT_EQ(V_VT(&back.v), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&back.v), L"child");
    EXPECT_EQ(ConfigStreamReadDword(&s, &count), STG_E_READFAULT) << "past the end";

    std::vector<std::uint8_t> bytes = tail.b;  // the text's type forged to VT_UNKNOWN
    bytes[20] = VT_UNKNOWN;
    TestStream bad(bytes);
    ASSERT_EQ(ConfigStreamReadDword(&bad, &count), S_OK);
    ASSERT_EQ(ConfigStreamReadGuid(&bad, &key), S_OK);
    VARIANT none{};
    EXPECT_EQ(ConfigStreamReadVariant(&bad, &none), DISP_E_BADVARTYPE);
    EXPECT_EQ(V_VT(&none), VT_EMPTY);
    TestStream full({}, 3);
    EXPECT_EQ(ConfigStreamWriteDword(&full, 1), STG_E_MEDIUMFULL);
}

// The registry under a scratch key of the test user's hive. CTest runs each test in its own
// process, several at once: the key carries the process id, so no test sees another's.
constexpr char kTestRoot[] = "Software\\CaptureSuiteTests\\KestruneConfig";

struct ScratchKey {
    std::string path;
    explicit ScratchKey(const char* leaf)
        : path(std::string(kTestRoot) + "\\" + leaf + "." + std::to_string(GetCurrentProcessId())) {
        RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    }
    ~ScratchKey() {
        RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);  // only once empty
    }
    std::vector<std::string> Values() const {
        std::vector<std::string> names;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD length = sizeof name;
            if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        RegCloseKey(key);
        return names;
    }
    std::vector<std::uint8_t> Binary(DWORD* type) const {
        std::vector<std::uint8_t> data(4096);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), kRegistryStreamValue, RRF_RT_ANY, type, data.data(), &size) !=
            ERROR_SUCCESS)
            return {};
        data.resize(size);
        return data;
    }
    void Set(const char* name, DWORD type, const void* data, DWORD size) const {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    bool Exists() const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
};

TYPED_TEST(ConfigPersist, RegistryRoundTripReplacesStaleValues) {
    using K = Known<TypeParam>;
    ScratchKey key("round-trip");
    key.Set("A", REG_SZ, "stale", 6);
    const DWORD stale = 7;
    key.Set("B", REG_DWORD, &stale, sizeof stale);
    K::Set(this->owner.owner);
    ASSERT_EQ(this->c->SaveStreamToRegistry(HKEY_CURRENT_USER, key.path.c_str()), S_OK);
    EXPECT_EQ(key.Values(), std::vector<std::string>{"SaveToRegistry"});
    DWORD type = 0;
    EXPECT_EQ(key.Binary(&type), K::Golden());
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));

    OwnerRef<TypeParam> other(K::kVersion);
    ASSERT_EQ(other->config.LoadStreamFromRegistry(HKEY_CURRENT_USER, key.path.c_str()), S_OK);
    auto expected = this->owner->record;
    if constexpr (std::is_same_v<TypeParam, EncOwner>) expected.frames = 0;
    EXPECT_TRUE(other->record == expected);
    EXPECT_EQ(other->config.changeCalls, 1);
}

TYPED_TEST(ConfigPersist, FailedSaveLeavesTheStoredValueAndItsNeighbours) {
    using K = Known<TypeParam>;
    ScratchKey key("failing");
    ASSERT_EQ(this->c->SaveStreamToRegistry(HKEY_CURRENT_USER, key.path.c_str()), S_OK);
    DWORD type = 0;
    const auto stored = key.Binary(&type);
    key.Set("A", REG_SZ, "keep", 5);
    K::Set(this->owner.owner);
    for (std::size_t budget = 0; budget < K::Golden().size(); ++budget) {
        TestStream scratch({}, budget);
        EXPECT_EQ(this->owner->config.SaveStreamToRegistryThrough(&scratch, HKEY_CURRENT_USER, key.path.c_str()),
                  STG_E_MEDIUMFULL)
            << budget;
        EXPECT_EQ(key.Binary(&type), stored) << budget;
        EXPECT_EQ(key.Values().size(), 2u) << budget;
    }
    TestStream scratch;
    EXPECT_EQ(this->owner->config.SaveStreamToRegistryThrough(&scratch, HKEY_CURRENT_USER, key.path.c_str()), S_OK);
    EXPECT_EQ(key.Binary(&type), K::Golden());
    EXPECT_EQ(key.Values(), std::vector<std::string>{"SaveToRegistry"});
}

TYPED_TEST(ConfigPersist, RegistryLoadRefusesWhatIsMissingOrNotBinary) {
    ScratchKey key("absent");
    const auto record = this->owner->record;
    EXPECT_EQ(this->c->LoadStreamFromRegistry(HKEY_CURRENT_USER, key.path.c_str()), E_UNEXPECTED);
    EXPECT_FALSE(key.Exists()) << "loading opens with read access only";
    key.Set("Other", REG_BINARY, "x", 1);
    EXPECT_EQ(this->c->LoadStreamFromRegistry(HKEY_CURRENT_USER, key.path.c_str()), E_UNEXPECTED);
    key.Set("SaveToRegistry", REG_SZ, "text", 5);
    EXPECT_EQ(this->c->LoadStreamFromRegistry(HKEY_CURRENT_USER, key.path.c_str()), E_FAIL);
    const auto half = Known<TypeParam>::Golden();
    key.Set("SaveToRegistry", REG_BINARY, half.data(), static_cast<DWORD>(half.size() - 1));
    EXPECT_EQ(this->c->LoadStreamFromRegistry(HKEY_CURRENT_USER, key.path.c_str()), STG_E_READFAULT);
    EXPECT_TRUE(this->owner->record == record);
    EXPECT_EQ(this->owner->config.changeCalls, 0);
}

// The stored value as Wine's own registry tool shows it.
TEST(ConfigRegistry, RegQueryShowsTheBinaryValue) {
    ScratchKey key("reg-query");
    OwnerRef<MuxOwner> owner(16);
    ASSERT_EQ(owner->config.SaveStreamToRegistry(HKEY_CURRENT_USER, key.path.c_str()), S_OK);

    char outPath[MAX_PATH], dir[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "reg", 0, outPath), 0u);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "reg.exe query \"HKCU\\" + key.path + "\" /v SaveToRegistry";
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(out);

    std::string text;
    HANDLE in = CreateFileA(outPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    CloseHandle(in);
    DeleteFileA(outPath);
    EXPECT_NE(text.find("SaveToRegistry"), std::string::npos) << text;
    EXPECT_NE(text.find("REG_BINARY"), std::string::npos) << text;
    EXPECT_NE(text.find("7777A3F524FD3347A79A2CBFEAAE0C88"), std::string::npos) << text;
}

}  // namespace
}  // namespace kestrune::test

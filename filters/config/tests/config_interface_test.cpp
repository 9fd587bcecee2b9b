// The configuration interfaces of each build on a small owner: a table of calls with their
// exact answers, then the behaviours behind them (delegated IUnknown, Commit and reset with
// the owner's hook, read-only and inactive values, the multiplexer's enumeration, lists and
// sink, and the lock around values).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "filters/config/tests/test_owner.h"

namespace kestrune::test {
namespace {

const GUID kUnknown = TestGuid(0x99);

// What a test needs to know of each build's table.
template <class Owner>
struct Table;
template <>
struct Table<EncOwner> {
    static constexpr std::uint32_t kVersion = 21;
    static constexpr const GUID* kWritable = &kEncGop;
    static constexpr VARTYPE kWritableType = VT_INT;
    static constexpr LONG kWritableDefault = 30;
    static constexpr const GUID* kReadOnly = &kEncFrames;
    static constexpr bool kHasReadOnly = true;
    static std::int32_t Field(EncOwner* o) { return o->record.gop; }
};
template <>
struct Table<DecOwner> {
    static constexpr std::uint32_t kVersion = 1;
    static constexpr const GUID* kWritable = &kDecLevel;
    static constexpr VARTYPE kWritableType = VT_I4;
    static constexpr LONG kWritableDefault = 0;
    static constexpr const GUID* kReadOnly = nullptr;  // every value of the decoder is writable
    static constexpr bool kHasReadOnly = false;
    static std::int32_t Field(DecOwner* o) { return static_cast<std::int32_t>(o->record.level); }
};
template <>
struct Table<MuxOwner> {
    static constexpr std::uint32_t kVersion = 16;
    static constexpr const GUID* kWritable = &kMuxOutput;
    static constexpr VARTYPE kWritableType = VT_I4;
    static constexpr LONG kWritableDefault = 0;
    static constexpr const GUID* kReadOnly = &kMuxTime;
    static constexpr bool kHasReadOnly = true;
    static std::int32_t Field(MuxOwner* o) { return o->record.output; }
};

template <class Owner>
class ConfigInterface : public ::testing::Test {
protected:
    using T = Table<Owner>;
    OwnerRef<Owner> owner{T::kVersion};
    IKestruneConfig* config() { return &owner->config; }
};

using Owners = ::testing::Types<EncOwner, DecOwner, MuxOwner>;
TYPED_TEST_SUITE(ConfigInterface, Owners);

TYPED_TEST(ConfigInterface, CallTableAnswersExactly) {
    using T = Table<TypeParam>;
    IKestruneConfig* c = this->config();
    ScopedVariantT v;
    struct Row {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    std::vector<Row> rows = {
        {"GetValue null key", [&] { return c->GetValue(nullptr, &v.v); }, E_POINTER},
        {"GetValue null VARIANT", [&] { return c->GetValue(T::kWritable, nullptr); }, E_POINTER},
        {"GetValue unknown", [&] { return c->GetValue(&kUnknown, &v.v); }, E_INVALIDARG},
        {"GetValue known", [&] { return c->GetValue(T::kWritable, &v.v); }, S_OK},
        {"GetDefaultValue null key", [&] { return c->GetDefaultValue(nullptr, &v.v); }, E_POINTER},
        {"GetDefaultValue null VARIANT", [&] { return c->GetDefaultValue(T::kWritable, nullptr); }, E_POINTER},
        {"GetDefaultValue unknown", [&] { return c->GetDefaultValue(&kUnknown, &v.v); }, E_INVALIDARG},
        {"GetDefaultValue known", [&] { return c->GetDefaultValue(T::kWritable, &v.v); }, S_OK},
        {"GetParameterRange", [&] { return c->GetParameterRange(T::kWritable, &v.v, &v.v, &v.v); }, E_NOTIMPL},
        {"IsWritable null", [&] { return c->IsWritable(nullptr); }, E_POINTER},
        {"IsWritable unknown", [&] { return c->IsWritable(&kUnknown); }, E_INVALIDARG},
        {"IsWritable writable", [&] { return c->IsWritable(T::kWritable); }, S_OK},
        {"IsSupported null", [&] { return c->IsSupported(nullptr); }, E_POINTER},
        {"IsSupported unknown", [&] { return c->IsSupported(&kUnknown); }, S_FALSE},
        {"IsSupported known", [&] { return c->IsSupported(T::kWritable); }, S_OK},
        {"SetValue null key", [&] { return c->SetValue(nullptr, &v.v); }, E_POINTER},
        {"SetValue null VARIANT", [&] { return c->SetValue(T::kWritable, nullptr); }, E_POINTER},
        {"SetValue unknown",
         [&] {
             VARIANT x = Int(VT_I4, 1);
             return c->SetValue(&kUnknown, &x);
         },
         E_INVALIDARG},
        {"SetValue own type",
         [&] {
             VARIANT x = Int(T::kWritableType, 1);
             return c->SetValue(T::kWritable, &x);
         },
         S_OK},
        {"SetValue text 2",
         [&] {
             ScopedVariantT x;
             x.v = Text(L"2");
             return c->SetValue(T::kWritable, &x.v);
         },
         S_FALSE},
        {"SetValue text abc",
         [&] {
             ScopedVariantT x;
             x.v = Text(L"abc");
             return c->SetValue(T::kWritable, &x.v);
         },
         DISP_E_TYPEMISMATCH},
        {"GetClassID null", [&] { return c->GetClassID(nullptr); }, E_POINTER},
        {"IsDirty", [&] { return c->IsDirty(); }, S_FALSE},
        {"Load null", [&] { return c->Load(nullptr); }, E_POINTER},
        {"Save null", [&] { return c->Save(nullptr, TRUE); }, E_POINTER},
        {"GetSizeMax null", [&] { return c->GetSizeMax(nullptr); }, E_POINTER},
        {"SaveStreamToRegistry null subkey", [&] { return c->SaveStreamToRegistry(HKEY_CURRENT_USER, nullptr); },
         E_POINTER},
        {"LoadStreamFromRegistry null subkey", [&] { return c->LoadStreamFromRegistry(HKEY_CURRENT_USER, nullptr); },
         E_POINTER},
        {"Commit null", [&] { return c->Commit(nullptr); }, S_OK},
        {"ResetToDefaults", [&] { return c->ResetToDefaults(); }, S_OK},
    };
    if constexpr (T::kHasReadOnly) {
        rows.push_back({"IsWritable read-only", [&] { return c->IsWritable(T::kReadOnly); }, S_FALSE});
        rows.push_back({"SetValue read-only",
                        [&] {
                            VARIANT x = Int(VT_I4, 1);
                            return c->SetValue(T::kReadOnly, &x);
                        },
                        E_ACCESSDENIED});
    }
    for (const Row& row : rows) {
        VariantClear(&v.v);
        EXPECT_EQ(row.call(), row.expected) << row.what;
    }
}

TYPED_TEST(ConfigInterface, UnknownKeyClearsTheVariantAndReadOnlyKeepsItsField) {
    using T = Table<TypeParam>;
    ScopedVariantT v;
    v.v = Text(L"stale");
    EXPECT_EQ(this->config()->GetValue(&kUnknown, &v.v), E_INVALIDARG);
    EXPECT_EQ(V_VT(&v.v), VT_EMPTY);
    ASSERT_EQ(this->config()->GetDefaultValue(T::kWritable, &v.v), S_OK);
    EXPECT_EQ(V_VT(&v.v), T::kWritableType);
    EXPECT_EQ(V_I4(&v.v), T::kWritableDefault);
    if constexpr (T::kHasReadOnly) {
        ScopedVariantT before, after;
        ASSERT_EQ(this->config()->GetValue(T::kReadOnly, &before.v), S_OK);
        VARIANT x = Int(VT_I4, 99);
        EXPECT_EQ(this->config()->SetValue(T::kReadOnly, &x), E_ACCESSDENIED);
        ASSERT_EQ(this->config()->GetValue(T::kReadOnly, &after.v), S_OK);
        EXPECT_EQ(V_VT(&before.v), V_VT(&after.v));
        EXPECT_EQ(V_I8(&before.v), V_I8(&after.v));
    }
}

TYPED_TEST(ConfigInterface, IUnknownIsTheOwnersAndClassIdIsGiven) {
    IKestruneConfig* c = this->config();
    const LONG refs = this->owner->refs;
    IUnknown* unknown = nullptr;
    ASSERT_EQ(c->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(this->owner.owner));
    EXPECT_EQ(this->owner->refs, refs + 1);
    IPersistStream* persist = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(static_cast<void*>(persist), static_cast<void*>(c));
    void* ex = nullptr;
    constexpr bool extended = std::is_same_v<TypeParam, MuxOwner>;
    EXPECT_EQ(c->QueryInterface(IID_IKestruneConfigEx, &ex), extended ? S_OK : E_NOINTERFACE);
    if (ex) {
        EXPECT_EQ(ex, static_cast<void*>(c)) << "the same pointer as IKestruneConfig";
        static_cast<IUnknown*>(ex)->Release();
    }
    persist->Release();
    unknown->Release();
    EXPECT_EQ(this->owner->refs, refs);
    CLSID id{};
    EXPECT_EQ(c->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, kOwnerClsid));
}

TYPED_TEST(ConfigInterface, SetValueWaitsForCommitWhichAnswersTheOwnersHook) {
    using T = Table<TypeParam>;
    IKestruneConfig* c = this->config();
    auto& hooks = this->owner->config;
    VARIANT x = Int(T::kWritableType, 2);
    ASSERT_EQ(c->SetValue(T::kWritable, &x), S_OK);
    EXPECT_EQ(T::Field(this->owner.owner), 2);
    EXPECT_EQ(hooks.changeCalls, 0) << "SetValue does not apply";
    EXPECT_EQ(c->IsDirty(), S_FALSE) << "SetValue does not mark dirty";

    ScopedVariantT message;
    message.v = Text(L"old");
    EXPECT_EQ(c->Commit(&message.v), S_OK);
    EXPECT_EQ(V_VT(&message.v), VT_EMPTY);
    EXPECT_EQ(hooks.changeCalls, 1);
    EXPECT_EQ(hooks.applied, this->owner->record);

    hooks.failChange = true;
    EXPECT_EQ(c->Commit(&message.v), E_FAIL);
    ASSERT_EQ(V_VT(&message.v), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&message.v), L"refused");
}

TYPED_TEST(ConfigInterface, ResetToDefaultsRestoresWritableValuesAndAnswersAFailingHook) {
    using T = Table<TypeParam>;
    IKestruneConfig* c = this->config();
    VARIANT x = Int(T::kWritableType, 2);
    ASSERT_EQ(c->SetValue(T::kWritable, &x), S_OK);
    auto& hooks = this->owner->config;
    EXPECT_EQ(c->ResetToDefaults(), S_OK);
    EXPECT_EQ(T::Field(this->owner.owner), T::kWritableDefault);
    EXPECT_EQ(hooks.changeCalls, 1);
    c->SetValue(T::kWritable, &x);
    hooks.failChange = true;
    EXPECT_EQ(c->ResetToDefaults(), E_FAIL);
    EXPECT_EQ(T::Field(this->owner.owner), T::kWritableDefault) << "the reset itself still happened";
}

TYPED_TEST(ConfigInterface, ValuesAreWrittenUnderTheObjectsLock) {
    using T = Table<TypeParam>;
    std::atomic<bool> done{false};
    std::thread writer;
    {
        std::lock_guard hold(this->owner->config.ValuesLock());
        writer = std::thread([&] {
            VARIANT x = Int(T::kWritableType, 2);
            this->config()->SetValue(T::kWritable, &x);
            done = true;
        });
        Sleep(100);
        EXPECT_FALSE(done) << "SetValue went past a held lock";
        EXPECT_EQ(T::Field(this->owner.owner), T::kWritableDefault);
    }
    writer.join();
    EXPECT_EQ(T::Field(this->owner.owner), 2);
}

TEST(ConfigEncoder, OwnerMarksDirtyAndIntegersTravelAsVtInt) {
    OwnerRef<EncOwner> owner(21);
    IKestruneConfig* c = &owner->config;
    owner->config.SetDirty();
    EXPECT_EQ(c->IsDirty(), S_OK);
    ScopedVariantT v;
    ASSERT_EQ(c->GetValue(&kEncFlag, &v.v), S_OK);
    EXPECT_EQ(V_VT(&v.v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&v.v), 1);
    ASSERT_EQ(c->GetValue(&kEncQuality, &v.v), S_OK);
    EXPECT_EQ(V_VT(&v.v), VT_INT);
    EXPECT_EQ(V_INT(&v.v), 10);
}

TEST(ConfigDecoder, UnsignedValueFromI4AndRegistryName) {
    OwnerRef<DecOwner> owner(1);
    IKestruneConfig* c = &owner->config;
    VARIANT x = Int(VT_I4, 1);
    EXPECT_EQ(c->SetValue(&kDecDeinterlace, &x), S_FALSE);
    EXPECT_EQ(owner->record.deinterlace, 1u);
    x = Int(VT_I4, 2);
    EXPECT_EQ(c->SetValue(&kDecLevel, &x), S_OK);
    EXPECT_EQ(owner->record.level, Level::reference);
    std::lock_guard guard(owner->config.ValuesLock());
    EXPECT_STREQ(owner->config.FindValue(&kDecVideoInfo, true)->Name(), "EnableVideoInfo");
    EXPECT_EQ(owner->config.FindValue(&kDecLevel, true)->Name(), nullptr);
    EXPECT_EQ(owner->config.FindValue(nullptr, true), nullptr);
}

class ConfigMuxer : public ::testing::Test {
protected:
    OwnerRef<MuxOwner> owner{16};
    IKestruneConfigEx* c = &owner->config;
};

TEST_F(ConfigMuxer, EnumParametersFillsInReverseAndKeepsItsAnswers) {
    ULONG count = 0;
    EXPECT_EQ(c->EnumParameters(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(c->EnumParameters(&count, nullptr), S_OK);
    EXPECT_EQ(count, 4u) << "output, flag, time, bit rate; the counter is inactive";

    owner->config.SetValueActive(&kMuxRate, false);
    const GUID kSentinel = TestGuid(0xEE);
    const GUID* keys[5];
    std::fill(std::begin(keys), std::end(keys), &kSentinel);
    count = 0;
    EXPECT_EQ(c->EnumParameters(&count, keys), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(keys[0], &kSentinel);

    count = 5;
    EXPECT_EQ(c->EnumParameters(&count, keys), E_INVALIDARG) << "every active value fitted";
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(keys[2], &kMuxOutput);
    EXPECT_EQ(keys[1], &kMuxFlag);
    EXPECT_EQ(keys[0], &kMuxTime);
    EXPECT_EQ(keys[3], &kSentinel);
    EXPECT_EQ(keys[4], &kSentinel);

    count = 2;
    EXPECT_EQ(c->EnumParameters(&count, keys), S_FALSE) << "cut";
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(keys[1], &kMuxOutput);
    EXPECT_EQ(keys[0], &kMuxFlag);
}

TEST_F(ConfigMuxer, InactiveValuesAreInvisibleAndUnknownKeysChangeNothing) {
    ScopedVariantT v;
    EXPECT_EQ(c->GetValue(&kMuxCounter, &v.v), E_INVALIDARG);
    owner->config.SetValueActive(&kMuxCounter, true);
    ASSERT_EQ(c->GetValue(&kMuxCounter, &v.v), S_OK);
    EXPECT_EQ(V_VT(&v.v), VT_I1);
    EXPECT_EQ(V_I1(&v.v), 3);

    owner->config.SetValueActive(&kMuxFlag, false);
    owner->config.SetValueActive(&kUnknown, false);
    VARIANT x = Int(VT_BOOL, 1);
    EXPECT_EQ(c->GetValue(&kMuxFlag, &v.v), E_INVALIDARG);
    EXPECT_EQ(c->SetValue(&kMuxFlag, &x), E_INVALIDARG);
    EXPECT_EQ(c->IsSupported(&kMuxFlag), S_FALSE);
    EXPECT_EQ(c->IsWritable(&kMuxFlag), E_INVALIDARG);
    ULONG count = 0;
    c->EnumParameters(&count, nullptr);
    EXPECT_EQ(count, 4u) << "output, time, bit rate, counter";

    // The reset leaves inactive values alone.
    owner->record.flag = true;
    EXPECT_EQ(c->ResetToDefaults(), S_OK);
    EXPECT_TRUE(owner->record.flag);
}

TEST_F(ConfigMuxer, RangeRefusesItsBoundsOnSet) {
    const struct {
        LONG value;
        HRESULT result;
    } cases[] = {{2047, E_FAIL}, {2048, S_OK}, {512000, S_OK}, {512001, E_FAIL}, {-1, E_FAIL}};
    for (const auto& k : cases) {
        owner->record.bitrate = 8000;
        VARIANT x = Int(VT_I4, k.value);
        EXPECT_EQ(c->SetValue(&kMuxRate, &x), k.result) << k.value;
        EXPECT_EQ(owner->record.bitrate, k.result == S_OK ? k.value : 8000) << k.value;
    }
    ScopedVariantT text;
    text.v = Text(L"junk");
    EXPECT_EQ(c->SetValue(&kMuxRate, &text.v), E_FAIL);
}

TEST_F(ConfigMuxer, GetParameterInfoCases) {
    BSTR name = nullptr;
    ULONG count = 7;
    EXPECT_EQ(c->GetParameterInfo(nullptr, &name, &count, nullptr, nullptr), E_POINTER);

    BSTR sentinel = SysAllocString(L"untouched");
    name = sentinel;
    count = 7;
    EXPECT_EQ(c->GetParameterInfo(&kUnknown, &name, &count, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(name, sentinel);
    SysFreeString(sentinel);

    count = 7;  // a value without a list: name filled, count 0
    ASSERT_EQ(c->GetParameterInfo(&kMuxTime, &name, &count, nullptr, nullptr), S_FALSE);
    EXPECT_STREQ(name, L"Muxer time");
    EXPECT_EQ(count, 0u);
    SysFreeString(name);

    count = 0;  // capacity 0 asks for the number of items
    EXPECT_EQ(c->GetParameterInfo(&kMuxOutput, nullptr, &count, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(count, 3u);

    VARIANT values[4];
    BSTR names[4] = {};
    for (VARIANT& v : values)
        v = Int(VT_I4, -7);
    count = 2;
    ASSERT_EQ(c->GetParameterInfo(&kMuxOutput, nullptr, &count, values, names), S_FALSE);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(V_I4(&values[0]), 0);
    EXPECT_EQ(V_I4(&values[1]), 1);
    EXPECT_EQ(V_I4(&values[2]), -7);
    EXPECT_STREQ(names[0], L"PS");
    EXPECT_STREQ(names[1], L"TS");
    EXPECT_EQ(names[2], nullptr);
    for (BSTR& n : names)
        SysFreeString(n);

    count = 10;  // names only
    ASSERT_EQ(c->GetParameterInfo(&kMuxFlag, nullptr, &count, nullptr, names), S_FALSE);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(names[0], L"Off");
    EXPECT_STREQ(names[1], L"On");
    SysFreeString(names[0]);
    SysFreeString(names[1]);

    EXPECT_EQ(c->GetParameterInfo(&kMuxOutput, nullptr, nullptr, values, nullptr), E_POINTER)
        << "a list needs the count";
}

TEST_F(ConfigMuxer, EnumNameAndValueWalkTheListFromItsEnd) {
    BSTR name = nullptr;
    VARIANT v = Int(VT_I4, 1);
    ASSERT_EQ(c->GetEnumName(&kMuxOutput, &v, &name), S_OK);
    EXPECT_STREQ(name, L"TS");
    SysFreeString(name);
    ScopedVariantT text;
    text.v = Text(L"2");
    ASSERT_EQ(c->GetEnumName(&kMuxOutput, &text.v, &name), S_OK);
    EXPECT_STREQ(name, L"DVD-PS");
    EXPECT_EQ(V_VT(&text.v), VT_I4) << "converted in place";
    SysFreeString(name);
    v = Int(VT_I4, 5);
    ASSERT_EQ(c->GetEnumName(&kMuxFlag, &v, &name), S_OK);
    EXPECT_STREQ(name, L"On");
    SysFreeString(name);

    v = Int(VT_I4, 7);
    EXPECT_EQ(c->GetEnumName(&kMuxOutput, &v, &name), E_INVALIDARG);
    EXPECT_EQ(c->GetEnumName(&kMuxTime, &v, &name), E_INVALIDARG) << "no list";
    EXPECT_EQ(c->GetEnumName(&kUnknown, &v, &name), E_INVALIDARG);
    EXPECT_EQ(c->GetEnumName(nullptr, &v, &name), E_POINTER);
    EXPECT_EQ(c->GetEnumName(&kMuxOutput, nullptr, &name), E_POINTER);
    EXPECT_EQ(c->GetEnumName(&kMuxOutput, &v, nullptr), E_POINTER);

    const struct {
        const wchar_t* text;
        HRESULT result;
        LONG value;
    } cases[] = {{L"TS", S_OK, 1},
                 {L"PS", S_OK, 0},
                 {L"as DVD-PS please", S_OK, 2},
                 {L"ps", E_INVALIDARG, 0},
                 {L"", E_INVALIDARG, 0}};
    for (const auto& k : cases) {
        BSTR t = SysAllocString(k.text);
        VARIANT out = Int(VT_EMPTY, 0);
        EXPECT_EQ(c->GetEnumValue(&kMuxOutput, &t, &out), k.result) << static_cast<const void*>(k.text);
        if (k.result == S_OK) {
            EXPECT_EQ(V_VT(&out), VT_I4);
            EXPECT_EQ(V_I4(&out), k.value);
        }
        SysFreeString(t);
    }
    BSTR t = SysAllocString(L"TS");
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(c->GetEnumValue(nullptr, &t, &out), E_POINTER);
    EXPECT_EQ(c->GetEnumValue(&kMuxOutput, nullptr, &out), E_POINTER);
    EXPECT_EQ(c->GetEnumValue(&kMuxOutput, &t, nullptr), E_POINTER);
    EXPECT_EQ(c->GetEnumValue(&kMuxTime, &t, &out), E_INVALIDARG);
    SysFreeString(t);
    EXPECT_EQ(c->ReservedMethod(), E_NOTIMPL);
}

class Sink final : public IKestruneConfigSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || (answers && IsEqualIID(iid, IID_IKestruneConfigSink))) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnValueChanged(const GUID*, VARIANT*) override { return S_OK; }
    ULONG refs = 1;
    bool answers = true;
};

TEST(ConfigMuxerSink, HeldSinkIsQueriedReplacedAndReleased) {
    Sink sink, plain;
    plain.answers = false;
    {
        OwnerRef<MuxOwner> owner(16);
        IKestruneConfigEx* c = &owner->config;
        EXPECT_EQ(c->SetNotifySink(&sink), S_OK);
        EXPECT_EQ(sink.refs, 2u);
        IKestruneConfigSink* held = owner->config.NotifySink();
        EXPECT_EQ(held, &sink);
        held->Release();
        EXPECT_EQ(c->SetNotifySink(nullptr), S_OK);
        EXPECT_EQ(sink.refs, 1u);
        EXPECT_EQ(owner->config.NotifySink(), nullptr);
        EXPECT_EQ(c->SetNotifySink(&sink), S_OK);
        EXPECT_EQ(c->SetNotifySink(&plain), E_NOINTERFACE);
        EXPECT_EQ(sink.refs, 1u) << "the old sink is released even when the new one is refused";
        EXPECT_EQ(owner->config.NotifySink(), nullptr);
        EXPECT_EQ(c->SetNotifySink(&sink), S_OK);
    }
    EXPECT_EQ(sink.refs, 1u) << "released with the object";
    EXPECT_EQ(plain.refs, 1u);
}

}  // namespace
}  // namespace kestrune::test

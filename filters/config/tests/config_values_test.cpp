// Value objects on their own: conversion on set for every kind with the exact HRESULTs of
// oleaut32's VariantChangeType, ranges, value lists and the stored form of VARIANTs.
#include "filters/config/config_values.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune {
namespace {

const GUID kKey = {0x6A1C1000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};

struct Var {
    VARIANT v;
    Var() : v{} { VariantInit(&v); }
    static Var I4(LONG x) {
        Var r;
        V_VT(&r.v) = VT_I4;
        V_I4(&r.v) = x;
        return r;
    }
    static Var Typed(VARTYPE t, LONGLONG x) {
        Var r;
        V_VT(&r.v) = t;
        V_I8(&r.v) = x;
        return r;
    }
    static Var Text(const wchar_t* s) {
        Var r;
        V_VT(&r.v) = VT_BSTR;
        V_BSTR(&r.v) = SysAllocString(s);
        return r;
    }
    Var(Var&& o) noexcept : v(o.v) { VariantInit(&o.v); }
    ~Var() { VariantClear(&v); }
};

// One case: a value of some kind with default 4, its field preset to 2, is set from `in`.
struct SetCase {
    const char* what;
    VARTYPE kind;
    Var (*in)();
    HRESULT result;
    LONGLONG fieldAfter;  // the field read back through GetVariant, widened
    VARTYPE inAfter;      // the caller's VARIANT is left converted (or not)
};

template <class M>
void RunCase(const SetCase& c) {
    M field{};
    CKestruneConfigTypedValue<M> value(&kKey, true, nullptr, true, c.kind, &field, static_cast<M>(4));
    EXPECT_EQ(field, static_cast<M>(4)) << c.what << ": the constructor writes the default";
    field = static_cast<M>(2);
    Var in = c.in();
    EXPECT_EQ(value.SetVariant(&in.v), c.result) << c.what;
    EXPECT_EQ(V_VT(&in.v), c.inAfter) << c.what;
    Var out;
    ASSERT_EQ(value.GetVariant(&out.v), S_OK);
    EXPECT_EQ(V_VT(&out.v), c.kind) << c.what;
    LONGLONG read = 0;
    switch (c.kind) {
        case VT_BOOL:
            read = V_BOOL(&out.v);
            break;
        case VT_I1:
            read = V_I1(&out.v);
            break;
        case VT_I4:
            read = V_I4(&out.v);
            break;
        case VT_INT:
            read = V_INT(&out.v);
            break;
        case VT_UI4:
            read = V_UI4(&out.v);
            break;
        default:
            read = V_I8(&out.v);
            break;
    }
    EXPECT_EQ(read, c.fieldAfter) << c.what;
    Var def;
    ASSERT_EQ(value.GetDefaultVariant(&def.v), S_OK);
    EXPECT_EQ(V_VT(&def.v), c.kind) << c.what;
}

TEST(ConfigValues, SetVariantConvertsPerKindWithExactAnswers) {
    const SetCase cases[] = {
        {"I4 from I4", VT_I4, [] { return Var::I4(7); }, S_OK, 7, VT_I4},
        {"I4 from text 7", VT_I4, [] { return Var::Text(L"7"); }, S_FALSE, 7, VT_I4},
        {"I4 from text abc", VT_I4, [] { return Var::Text(L"abc"); }, DISP_E_TYPEMISMATCH, 2, VT_BSTR},
        {"I4 from I8 beyond 32 bits", VT_I4, [] { return Var::Typed(VT_I8, 0x100000000); }, DISP_E_OVERFLOW, 2, VT_I8},
        {"flag from I4 5", VT_BOOL, [] { return Var::I4(5); }, S_FALSE, 1, VT_BOOL},
        {"flag from VARIANT_TRUE", VT_BOOL, [] { return Var::Typed(VT_BOOL, 0xFFFF); }, S_OK, 1, VT_BOOL},
        {"flag from 0", VT_BOOL, [] { return Var::I4(0); }, S_FALSE, 0, VT_BOOL},
        {"flag from text", VT_BOOL, [] { return Var::Text(L"maybe"); }, DISP_E_TYPEMISMATCH, 1, VT_BSTR},
        {"I8 from I8 2^32", VT_I8, [] { return Var::Typed(VT_I8, 0x100000000); }, S_OK, 0x100000000, VT_I8},
        {"I8 from I4 -1", VT_I8, [] { return Var::I4(-1); }, S_FALSE, -1, VT_I8},
        {"I1 from I4 -5", VT_I1, [] { return Var::I4(-5); }, S_FALSE, -5, VT_I1},
        {"I1 from I4 300", VT_I1, [] { return Var::I4(300); }, DISP_E_OVERFLOW, 2, VT_I4},
        {"UI4 from I4 7", VT_UI4, [] { return Var::I4(7); }, S_FALSE, 7, VT_UI4},
        {"UI4 from I8 2^32", VT_UI4, [] { return Var::Typed(VT_I8, 0x100000000); }, DISP_E_OVERFLOW, 2, VT_I8},
        {"INT from INT", VT_INT, [] { return Var::Typed(VT_INT, 9); }, S_OK, 9, VT_INT},
        {"INT from I4", VT_INT, [] { return Var::I4(9); }, S_FALSE, 9, VT_INT},
        {"INT from text", VT_INT, [] { return Var::Text(L"-12"); }, S_FALSE, -12, VT_INT},
    };
    for (const SetCase& c : cases) {
        switch (c.kind) {
            case VT_BOOL:
                RunCase<bool>(c);
                break;
            case VT_I1:
                RunCase<std::int8_t>(c);
                break;
            case VT_UI4:
                RunCase<std::uint32_t>(c);
                break;
            case VT_I8:
                RunCase<std::int64_t>(c);
                break;
            default:
                RunCase<std::int32_t>(c);
                break;
        }
    }
}

TEST(ConfigValues, FlagsReadOneNotMinusOneAndAssignReportsChange) {
    bool field = false;
    CKestruneConfigTypedValue<bool> flag(&kKey, true, nullptr, true, VT_BOOL, &field, true);
    Var out;
    flag.GetVariant(&out.v);
    EXPECT_EQ(V_BOOL(&out.v), 1);
    EXPECT_FALSE(flag.Assign(true));
    EXPECT_TRUE(flag.Assign(false));
    EXPECT_FALSE(field);
    // A flag kept in a wider word, as the encoder keeps one.
    std::int32_t word = 0;
    CKestruneConfigTypedValue<std::int32_t> wide(&kKey, true, nullptr, true, VT_BOOL, &word, 0);
    Var five = Var::I4(5);
    EXPECT_EQ(wide.SetVariant(&five.v), S_FALSE);
    EXPECT_EQ(word, 1);
}

TEST(ConfigValues, RangeBoundsAreExclusive) {
    const CKestruneConfigRange range(0, 10);
    for (LONG x = -1; x <= 11; ++x) {
        Var v = Var::I4(x);
        EXPECT_EQ(range.Accepts(&v.v), x >= 1 && x <= 9) << x;
    }
    Var text = Var::Text(L"5");
    EXPECT_TRUE(range.Accepts(&text.v));
    EXPECT_EQ(V_VT(&text.v), VT_I4);
    Var junk = Var::Text(L"five");
    EXPECT_FALSE(range.Accepts(&junk.v));
}

TEST(ConfigValues, EnumListYieldsItemsInOrderAndMatchesConverted) {
    CKestruneConfigEnumList list;
    list.AddInt("Zero", 0);
    list.AddInt("Seven", 7);
    list.AddFlag("Yes", true);
    ASSERT_EQ(list.Count(), 3u);
    const wchar_t* names[] = {L"Zero", L"Seven", L"Yes"};
    const VARTYPE types[] = {VT_I4, VT_I4, VT_BOOL};
    const LONG values[] = {0, 7, 1};
    for (std::size_t i = 0; i < list.Count(); ++i) {
        Var v;
        BSTR name = nullptr;
        ASSERT_EQ(list.Item(i).GetItem(&v.v, &name), S_OK);
        EXPECT_STREQ(name, names[i]);
        SysFreeString(name);
        EXPECT_EQ(V_VT(&v.v), types[i]);
        EXPECT_EQ(types[i] == VT_BOOL ? V_BOOL(&v.v) : V_I4(&v.v), values[i]);
    }
    EXPECT_EQ(list.Item(1).GetItem(nullptr, nullptr), S_OK);
    Var seven = Var::Text(L"7");
    EXPECT_TRUE(list.Item(1).Matches(&seven.v));
    EXPECT_EQ(V_VT(&seven.v), VT_I4);
    Var other = Var::I4(8);
    EXPECT_FALSE(list.Item(1).Matches(&other.v));
    Var junk = Var::Text(L"x");
    EXPECT_FALSE(list.Item(1).Matches(&junk.v));
    Var nonzero = Var::I4(3);
    EXPECT_TRUE(list.Item(2).Matches(&nonzero.v));
}

TEST(ConfigValues, StoredFormRoundTripsEveryStoredTypeAndRefusesOthers) {
    Var odd;  // a BSTR of an odd byte length survives as it is
    V_VT(&odd.v) = VT_BSTR;
    V_BSTR(&odd.v) = SysAllocStringByteLen("abc", 3);
    Var cases[] = {Var::I4(-2),
                   Var::Typed(VT_BOOL, 1),
                   Var::Typed(VT_I1, 0x7F),
                   Var::Typed(VT_UI4, 0xFFFFFFFF),
                   Var::Typed(VT_I8, -0x100000000LL),
                   Var::Typed(VT_INT, 5),
                   Var::Text(L"h\u00e9llo"),
                   Var::Text(L""),
                   std::move(odd)};
    for (Var& c : cases) {
        StoredVariant stored;
        ASSERT_EQ(StoreVariant(c.v, &stored), S_OK);
        Var back;
        ASSERT_EQ(RestoreVariant(stored, &back.v), S_OK);
        ASSERT_EQ(V_VT(&back.v), V_VT(&c.v));
        if (V_VT(&c.v) == VT_BSTR) {
            ASSERT_EQ(SysStringByteLen(V_BSTR(&back.v)), SysStringByteLen(V_BSTR(&c.v)));
            EXPECT_EQ(std::memcmp(V_BSTR(&back.v), V_BSTR(&c.v), SysStringByteLen(V_BSTR(&c.v))), 0);
        } else {
            // Value bytes beyond the type's width are zero in both.
            EXPECT_EQ(V_I8(&back.v), V_I8(&c.v)) << V_VT(&c.v);
        }
    }
    for (VARTYPE bad :
         {VARTYPE(VT_EMPTY), VARTYPE(VT_R8), VARTYPE(VT_UNKNOWN), VARTYPE(VT_DISPATCH), VARTYPE(VT_I4 | VT_BYREF)}) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = bad;  // value bytes zero: never dereferenced
        StoredVariant stored;
        EXPECT_EQ(StoreVariant(v, &stored), DISP_E_BADVARTYPE) << bad;
        stored.type = bad;
        Var back;
        EXPECT_EQ(RestoreVariant(stored, &back.v), DISP_E_BADVARTYPE) << bad;
        EXPECT_EQ(V_VT(&back.v), VT_EMPTY);
    }
}

}  // namespace
}  // namespace kestrune

#include "app/services/reg_value.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/services/tests/registry_helpers.h"

namespace {

using servicestest::PutRaw;
using servicestest::RegQuery;
using servicestest::ValueExists;

constexpr char kKey[] = "Software\\SuiteTests\\RegValue";

class RegValueTest : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    servicestest::RegistryLock lock_;
    void TearDown() override {
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        servicestest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey);
    }
};

TEST_F(RegValueTest, StoresEachKindWithItsRegistryType) {
    CRegBinValue(HKEY_CURRENT_USER, kKey, "Bin", 1).Set(7);
    CRegBinIntValue(HKEY_CURRENT_USER, kKey, "BinInt", 1).Set(0x01020304);
    CRegDwordValue(HKEY_CURRENT_USER, kKey, "Dword", 1).Set(42);
    CRegBin8Value(HKEY_CURRENT_USER, kKey, "Double", 1).Set(1.5);
    CRegStringValue(HKEY_CURRENT_USER, kKey, "Text", 1).Set("hello there");
    CRegStringValue(HKEY_CURRENT_USER, kKey, "Name", 1).SetFromCString(CString("DV stream"));

    // The prefix's own reg tool is the judge of type and bytes.
    const std::string key = std::string("HKCU\\") + kKey;
    EXPECT_NE(RegQuery(key, "Bin").find("REG_BINARY    07000000"), std::string::npos) << RegQuery(key, "Bin");
    EXPECT_NE(RegQuery(key, "BinInt").find("REG_BINARY    04030201"), std::string::npos);
    EXPECT_NE(RegQuery(key, "Dword").find("REG_DWORD    0x2a"), std::string::npos) << RegQuery(key, "Dword");
    EXPECT_NE(RegQuery(key, "Double").find("REG_BINARY    000000000000F83F"), std::string::npos)
        << RegQuery(key, "Double");
    EXPECT_NE(RegQuery(key, "Text").find("REG_SZ    hello there"), std::string::npos);
    EXPECT_NE(RegQuery(key, "Name").find("REG_SZ    DV stream"), std::string::npos);

    // And each reads back into a fresh object.
    CRegBin8Value d(HKEY_CURRENT_USER, kKey, "Double", 0);
    ASSERT_EQ(d.Read(), 1);
    EXPECT_EQ(d.Get(), 1.5);
    CRegStringValue s(HKEY_CURRENT_USER, kKey, "Text", 0);
    ASSERT_EQ(s.Read(), 1);
    EXPECT_STREQ(s.GetString(), "hello there");
    CRegDwordValue w(HKEY_CURRENT_USER, kKey, "Dword", 0);
    ASSERT_EQ(w.Read(), 1);
    EXPECT_EQ(w.Get(), 42u);
}

TEST_F(RegValueTest, ReadsFallBackToTheMachineRoot) {
    const DWORD machine = 5, user = 9;
    PutRaw(HKEY_LOCAL_MACHINE, kKey, "Both", REG_DWORD, &machine, 4);
    PutRaw(HKEY_LOCAL_MACHINE, kKey, "MachineOnly", REG_DWORD, &machine, 4);
    PutRaw(HKEY_CURRENT_USER, kKey, "Both", REG_DWORD, &user, 4);

    CRegDwordValue only(HKEY_CURRENT_USER, kKey, "MachineOnly", 1);
    EXPECT_EQ(only.Read(), 1);
    EXPECT_EQ(only.Get(), 5u);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kKey, "MachineOnly"));  // nothing copied until Set
    only.Set(6);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, kKey, "MachineOnly"));

    CRegDwordValue both(HKEY_CURRENT_USER, kKey, "Both", 1);
    EXPECT_EQ(both.Read(), 1);
    EXPECT_EQ(both.Get(), 9u);

    // Missing everywhere: 0, and the held data stays as it was.
    CRegDwordValue missing(HKEY_CURRENT_USER, kKey, "Missing", 1);
    missing.Set(77);
    CRegDwordValue(HKEY_CURRENT_USER, kKey, "Missing", 1).Delete();
    EXPECT_EQ(missing.Read(), 0);
    EXPECT_EQ(missing.Get(), 77u);
}

TEST_F(RegValueTest, BoundFlagDecidesWritesAndLiveReads) {
    CRegBinValue unbound(HKEY_CURRENT_USER, kKey, "Switch", 0);
    unbound.Set(1);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kKey, "Switch"));
    EXPECT_EQ(unbound.Get(), 1u);

    CRegBinValue live(HKEY_CURRENT_USER, kKey, "Switch", 1);
    live.Set(1);
    CRegBinValue(HKEY_CURRENT_USER, kKey, "Switch", 1).Set(0);
    EXPECT_EQ(live.Get(), 0u);  // a bound 4-byte binary value reads again on Get
    EXPECT_EQ(unbound.Read(), 1);
    EXPECT_EQ(unbound.Get(), 0u);  // Read still reads when unbound

    CRegDwordValue held(HKEY_CURRENT_USER, kKey, "Count", 1);
    held.Set(3);
    CRegDwordValue(HKEY_CURRENT_USER, kKey, "Count", 1).Set(4);
    EXPECT_EQ(held.Get(), 3u);  // what it last read or was set to

    // Plain copies keep root, key, name and data.
    CRegBinIntValue a(HKEY_CURRENT_USER, kKey, "Copied", 1), b;
    b = a;
    b.Set(11);
    EXPECT_EQ(CRegBinIntValue(HKEY_CURRENT_USER, kKey, "Copied", 1).Get(), 11u);
}

TEST_F(RegValueTest, DeleteReportsWhetherTheKeyOpened) {
    CRegDwordValue v(HKEY_CURRENT_USER, kKey, "Gone", 1);
    EXPECT_EQ(v.Delete(), 0);  // no key
    v.Set(1);
    EXPECT_EQ(v.Delete(), 1);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kKey, "Gone"));
    EXPECT_EQ(v.Delete(), 1);  // value already gone, key still there
}

TEST_F(RegValueTest, StringsStayTerminatedAndBounded) {
    CRegStringValue empty(HKEY_CURRENT_USER, kKey, "Empty", 1);
    empty.Set("");
    DWORD type = 0, size = 99;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 1u);  // one NUL byte

    // Stored without a terminating NUL: still comes out terminated.
    PutRaw(HKEY_CURRENT_USER, kKey, "Raw", REG_BINARY, "abc", 3);
    CRegStringValue raw(HKEY_CURRENT_USER, kKey, "Raw", 0);
    raw.Set("previous longer text");
    ASSERT_EQ(raw.Read(), 1);
    EXPECT_STREQ(raw.GetString(), "abc");

    // 1,023 characters fit; 1,024 (or more) fail under that root and keep the old text.
    const std::string fits(1023, 'x'), tooLong(1024, 'y'), huge(5000, 'z');
    PutRaw(HKEY_CURRENT_USER, kKey, "Fits", REG_SZ, fits.c_str(), 1024);
    PutRaw(HKEY_CURRENT_USER, kKey, "TooLong", REG_BINARY, tooLong.data(), 1024);
    PutRaw(HKEY_CURRENT_USER, kKey, "Huge", REG_SZ, huge.c_str(), 5001);
    CRegStringValue s(HKEY_CURRENT_USER, kKey, "Fits", 0);
    ASSERT_EQ(s.Read(), 1);
    EXPECT_EQ(std::strlen(s.GetString()), 1023u);
    CRegStringValue t(HKEY_CURRENT_USER, kKey, "TooLong", 0);
    t.Set("kept");
    EXPECT_EQ(t.Read(), 0);
    EXPECT_STREQ(t.GetString(), "kept");
    CRegStringValue h(HKEY_CURRENT_USER, kKey, "Huge", 0);
    h.Set("kept");
    EXPECT_EQ(h.Read(), 0);
    EXPECT_STREQ(h.GetString(), "kept");

    // Longer input is cut to 1,023 characters, never written past the array.
    CRegStringValue cut(HKEY_CURRENT_USER, kKey, "Cut", 1);
    cut.Set(huge.c_str());
    EXPECT_EQ(std::strlen(cut.GetString()), 1023u);
    CRegStringValue back(HKEY_CURRENT_USER, kKey, "Cut", 0);
    ASSERT_EQ(back.Read(), 1);
    EXPECT_EQ(std::string(back.GetString()), std::string(1023, 'z'));

    // A 4-byte value whose stored data is longer does not read.
    PutRaw(HKEY_CURRENT_USER, kKey, "Wide", REG_BINARY, "12345678", 8);
    CRegBinValue wide(HKEY_CURRENT_USER, kKey, "Wide", 0);
    wide.Set(5);
    EXPECT_EQ(wide.Read(), 0);
    EXPECT_EQ(wide.Get(), 5u);
}

TEST_F(RegValueTest, LongNamesAreCutNotOverrun) {
    const std::string longName(400, 'n');
    CRegDwordValue v(HKEY_CURRENT_USER, kKey, longName.c_str(), 1);
    v.Set(1);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, kKey, std::string(127, 'n').c_str()));
}

}  // namespace

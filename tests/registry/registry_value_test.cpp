#include "registry/registry_fixture.h"

#include <sundry/registry/RegistryValue.h>

#include <cstring>
#include <string>

namespace {

using sundry::test::RegistryTest;
using RegistryValueTest = RegistryTest;

const char kKey[] = "Software\\Sundry\\Values";

TEST_F(RegistryValueTest, MissingValueWithoutCreateFailsAndHoldsNothing) {
  makeKey(kKey);
  CRegistryValue v;
  EXPECT_FALSE(v.initialize(HKEY_CURRENT_USER, kKey, "Missing", "dflt", FALSE, FALSE));
  EXPECT_EQ(0, v.getState());
  EXPECT_FALSE(v.isEmpty());
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, v.getLastError());
  if (!sundry::test::UnderWine()) {  // Wine's message texts are its own
    EXPECT_STREQ("The system cannot find the file specified.\r\n", v.getErrorText());
  }
  DWORD type;
  std::string data;
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, queryRaw(kKey, "Missing", &type, &data));
}

TEST_F(RegistryValueTest, CreateWritesTheStringDefaultWithItsTerminator) {
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "Name", "abc", TRUE, FALSE));
  EXPECT_EQ(3, v.getState());
  EXPECT_FALSE(v.existed());
  EXPECT_TRUE(v.isEmpty());
  DWORD type = 0;
  std::string data;
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kKey, "Name", &type, &data));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(std::string("abc\0", 4), data);
  // Stored with its terminator, the value is one byte longer than the text.
  EXPECT_FALSE(v == "abc");
  EXPECT_TRUE(v > "abc");

  // setCString passes the text's length without the terminator.
  ASSERT_TRUE(v.setCString("xyz"));
  EXPECT_EQ(3u, v.getSize());
  EXPECT_TRUE(v == "xyz");
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kKey, "Name", &type, &data));
#if defined(_WIN32)
  // Windows keeps strings in UTF-16: the ANSI functions may give a string
  // stored without its terminator back with one.
  EXPECT_TRUE(data == "xyz" || data == std::string("xyz\0", 4)) << data.size();
#else
  EXPECT_EQ("xyz", data);  // the store keeps exactly the bytes given
#endif
  EXPECT_EQ(3, v.getState());  // setters leave the state alone
}

TEST_F(RegistryValueTest, ExistingValueReadsWithStateTwo) {
  setNumber(kKey, "Count", 42);
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "COUNT", static_cast<DWORD>(7), FALSE, FALSE));
  EXPECT_EQ(2, v.getState());
  EXPECT_TRUE(v.existed());
  EXPECT_EQ(42u, v.getDWORD());
  EXPECT_TRUE(v.getBOOL());
  EXPECT_EQ(42u, v(0ul));
  EXPECT_EQ(REG_DWORD, v.getType());
  EXPECT_OPEN_HANDLES(0u);  // closed after the operation
}

TEST_F(RegistryValueTest, ExistedIsFalseOnceTheObjectCreatedItsKey) {
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, "Software\\Sundry\\Fresh", "A", static_cast<DWORD>(1), TRUE, FALSE));
  EXPECT_TRUE(v.isCreated());
  setNumber("Software\\Sundry\\Fresh", "B", 2);
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, "Software\\Sundry\\Fresh", "B", static_cast<DWORD>(0), FALSE, FALSE));
  EXPECT_EQ(2, v.getState());
  EXPECT_FALSE(v.existed());
}

TEST_F(RegistryValueTest, EmptyValuesOnlyBinaryCountsAsRead) {
  setRaw(kKey, "Bin", REG_BINARY, nullptr, 0);
  setRaw(kKey, "Str", REG_SZ, "", 0);
  CRegistryValue bin, str;
  EXPECT_TRUE(bin.initialize(HKEY_CURRENT_USER, kKey, "Bin", nullptr, 0, FALSE, FALSE));
  EXPECT_EQ(nullptr, bin.getBinary());
  EXPECT_EQ(0u, bin.getDWORD());
  EXPECT_FALSE(bin.getBOOL());
  EXPECT_FALSE(str.initialize(HKEY_CURRENT_USER, kKey, "Str", "x", FALSE, FALSE));
  EXPECT_EQ(0, str.getState());
}

TEST_F(RegistryValueTest, SettersCheckValidityAndType) {
  setText(kKey, "Text", "t");
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "Text", "", FALSE, TRUE));
  EXPECT_FALSE(v.setBOOL(TRUE));  // not a REG_DWORD
  DWORD type;
  std::string data;
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kKey, "Text", &type, &data));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_FALSE(v.setBinary(nullptr, 3));
  ASSERT_TRUE(v.setDWORD(9));
  ASSERT_TRUE(v.setBOOL(77));  // now a REG_DWORD: stored as 1
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kKey, "Text", &type, &data));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(std::string("\1\0\0\0", 4), data);
  const unsigned char blob[] = {0, 1, 2, 0, 3};
  ASSERT_TRUE(v.setBinary(blob, sizeof blob));
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kKey, "Text", &type, &data));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob), sizeof blob), data);

  CRegistryValue invalid;
  EXPECT_FALSE(invalid.initialize("server", HKEY_CURRENT_USER, kKey, "Text", static_cast<DWORD>(0), FALSE, TRUE));
  EXPECT_FALSE(invalid.isValid());
  EXPECT_FALSE(invalid.setDWORD(1));
  EXPECT_FALSE(invalid.setBinary(blob, 1));
}

TEST_F(RegistryValueTest, MultiStringTextWithAndWithoutSeparator) {
  const char multi[] = "a\0b\0";  // two strings and the closing zero
  setRaw(kKey, "Multi", REG_MULTI_SZ, multi, sizeof multi);
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "Multi", "", FALSE, FALSE));
  EXPECT_EQ("a b", std::string(v.getCString(32)));
  EXPECT_EQ("a", std::string(v.getCString(0)));
}

TEST_F(RegistryValueTest, RemoveValueResults) {
  setText(kKey, "Gone", "x");
  CRegistryValue never;
  EXPECT_TRUE(never.removeValue());  // state 0: nothing touched
  CRegistryValue v;
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "Gone", "", FALSE, FALSE));
  EXPECT_TRUE(v.removeValue());
  DWORD type;
  std::string data;
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, queryRaw(kKey, "Gone", &type, &data));
  EXPECT_FALSE(v.removeValue());  // already gone
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, v.getLastError());
  EXPECT_EQ(2, v.getState());  // state and data unchanged
}

TEST_F(RegistryValueTest, NumbersCompareByTheirBytesInMemoryOrder) {
  CRegistryValue v;
  unsigned char data[4] = {0, 1, 0, 0};  // 256
  ASSERT_TRUE(v.initialize(nullptr, HKEY_CURRENT_USER, kKey, "N", REG_DWORD, data, 4, FALSE));
  unsigned long one = 1, same = 256, big = static_cast<unsigned long>(0x100000100ull);  // only 4 bytes count
  EXPECT_TRUE(v < one);
  EXPECT_FALSE(v > one);
  EXPECT_TRUE(v == same);
  EXPECT_TRUE(v <= same);
  EXPECT_TRUE(v >= same);
  EXPECT_TRUE(v == big);
  EXPECT_TRUE(v != one);

  CRegistryValue text;
  unsigned char bytes[4] = {0, 1, 0, 0};
  ASSERT_TRUE(text.initialize(nullptr, HKEY_CURRENT_USER, kKey, "T", REG_BINARY, bytes, 4, FALSE));
  EXPECT_TRUE(v == text);  // types are never consulted
  CRegistryValue shorter;
  ASSERT_TRUE(shorter.initialize(nullptr, HKEY_CURRENT_USER, kKey, "S", REG_BINARY, bytes, 3, FALSE));
  EXPECT_TRUE(v > shorter);
  EXPECT_TRUE(shorter < v);
}

TEST_F(RegistryValueTest, OfflineInitializeTouchesNoRegistry) {
  CRegistryValue v;
  unsigned char data[] = {'h', 'i', 0};
  ASSERT_TRUE(v.initialize("far", HKEY_PERFORMANCE_DATA, "Any\\Path", "Val", REG_SZ, data, 3, TRUE));
  EXPECT_EQ(9, v.getState());
  EXPECT_TRUE(v.isEmpty());
  EXPECT_EQ("hi", std::string(v.getCString(0)));
  EXPECT_EQ(CRegistryBase::kAccessWrite, v.getAccess());
  EXPECT_EQ(nullptr, v.getOpenKey());
  EXPECT_OPEN_HANDLES(0u);
  EXPECT_FALSE(v.empty());
  EXPECT_EQ(0, v.getState());
  EXPECT_EQ(0u, v.getSize());
}

TEST_F(RegistryValueTest, ErrorRecordHoldsTheFailingCallsCodeNotAStaleOne) {
  setText(kKey, "RO", "x");
  CRegistryValue v;
  v.setRemainOpen(TRUE);
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "RO", "", FALSE, FALSE));  // read-only open
  SetLastError(ERROR_BADDB);  // unrelated stale code on the thread
  EXPECT_FALSE(v.setCString("new"));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, v.getLastError());
  if (!sundry::test::UnderWine()) {
    EXPECT_STREQ("Access is denied.\r\n", v.getErrorText());
  }
  v.setRemainOpen(FALSE);
  EXPECT_OPEN_HANDLES(0u);

  SetLastError(ERROR_BADDB);
  CRegistryValue missing;
  EXPECT_FALSE(missing.initialize(HKEY_CURRENT_USER, "Software\\NoSuchKey", "V", "", FALSE, FALSE));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, missing.getLastError());
  EXPECT_WIN32(ERROR_BADDB, GetLastError());  // the thread's error is not ours to change
}

TEST_F(RegistryValueTest, RemainOpenKeepsOneKeyAndItsConnection) {
  setNumber(kKey, "N", 1);
  CRegistryValue v;
  v.setRemainOpen(TRUE);
  ASSERT_TRUE(v.initialize(HKEY_CURRENT_USER, kKey, "N", static_cast<DWORD>(0), FALSE, TRUE));
  EXPECT_OPEN_HANDLES(2u);
  ASSERT_TRUE(v.setDWORD(5));
  EXPECT_OPEN_HANDLES(2u);
  v.setRemainOpen(TRUE);  // no change
  EXPECT_OPEN_HANDLES(2u);
  v.setRemainOpen(FALSE);
  EXPECT_OPEN_HANDLES(0u);
}

TEST_F(RegistryValueTest, CopiesOwnTheirHandlesAndBuffers) {
  setText(kKey, "C", "copy me");
  auto* original = new CRegistryValue;
  original->setRemainOpen(TRUE);
  ASSERT_TRUE(original->initialize(HKEY_CURRENT_USER, kKey, "C", "", FALSE, TRUE));
  CRegistryValue copy(*original);
  CRegistryValue assigned;
  assigned = *original;
  EXPECT_OPEN_HANDLES(6u);
  delete original;  // the copies still work on handles of their own
  EXPECT_EQ("copy me", std::string(copy.getCString(0)));
  EXPECT_TRUE(copy.setCString("changed"));
  EXPECT_TRUE(assigned.setCString("again"));
  assigned = assigned;  // self-assignment keeps everything
  EXPECT_EQ("again", std::string(assigned.getCString(0)));
}

}  // namespace

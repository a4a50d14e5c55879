// CSundry's string, list, time, GUID and address helpers, and the dual
// registry list.

#include "registry/registry_fixture.h"

#include <sundry/util/Sundry.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using sundry::test::ScopedEnv;
using Items = std::vector<std::string>;

namespace {

// A string list written out in place.
struct List : CStringArray {
  List(std::initializer_list<const char*> items) {
    for (const char* s : items) Add(CString(s));
  }
};

Items items(const CStringArray& list) {
  Items out;
  for (INT_PTR i = 0; i < list.GetSize(); ++i) out.push_back(list.GetAt(i).str());
  return out;
}

TEST(TimeString, ClockFormsToTheCharacter) {
  ScopedEnv tz("TZ", "UTC");
  auto text = [](int h, int m, int s, int use24Hour, int showSeconds) {
    return CSundry::GetTimeString(CTime(2024, 3, 14, h, m, s), use24Hour, showSeconds, 0).str();
  };
  for (int clock : {0, 1}) {  // Noon and Midnight on either clock, seconds or not
    EXPECT_EQ("Noon", text(12, 0, 30, clock, 1));
    EXPECT_EQ("Midnight", text(0, 0, 59, clock, 1));
  }
  EXPECT_EQ(" 1:05:09  PM", text(13, 5, 9, 0, 1));
  EXPECT_EQ("12:30  PM", text(12, 30, 0, 0, 0));
  EXPECT_EQ("12:30  AM", text(0, 30, 0, 0, 0));
  EXPECT_EQ(" 9:05", text(9, 5, 0, 1, 0));
  EXPECT_EQ("23:45", text(23, 45, 7, -3, 2));  // any non-zero clock is 24 hours; only 1 shows seconds
  EXPECT_EQ("-1:-1:-1", CSundry::GetTimeString(CTime(-5), 1, 1, 0).str());  // no calendar form
  // Local time: 09:05 UTC is 12:05 three hours east.
  ScopedEnv east("TZ", "XST-3");
  EXPECT_EQ("12:05  PM", CSundry::GetTimeString(CTime(9 * 3600 + 5 * 60), 0, 0, 0).str());
}

TEST(GuidText, UpperCaseFieldsAndNothingPastTheTerminator) {
  GUID shellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(buffer, CSundry::GUIDtoTCHAR(&shellLink, buffer));
  EXPECT_STREQ("{00021401-0000-0000-C000-000000000046}", buffer);
  EXPECT_EQ('x', buffer[CSundry::iGUIDStringLen]);
  GUID mixed = {0xDEADBEEF, 0xABCD, 0x0A0B, {0xFE, 0xDC, 0xBA, 0x98, 0x01, 0x23, 0x45, 0x67}};
  EXPECT_STREQ("{DEADBEEF-ABCD-0A0B-FEDC-BA9801234567}", CSundry::GUIDtoTCHAR(&mixed, buffer));
  EXPECT_STREQ("", CSundry::GUIDtoTCHAR(nullptr, buffer));
}

TEST(StringLists, FindRemoveDuplicatesAndAdd) {
  List list{"data", "DATA", "\xC4RGER"};
  EXPECT_EQ(0, CSundry::findStringInStringArray(list, "Data", 1));
  EXPECT_EQ(-1, CSundry::findStringInStringArray(list, "Data", 0));
  EXPECT_EQ(-1, CSundry::findStringInStringArray(list, "Data", 2));  // only exactly 1 ignores case
  EXPECT_EQ(2, CSundry::findStringInStringArray(list, "\xE4rger", 1));  // ANSI code page folding
  EXPECT_EQ(-1, CSundry::findStringInStringArray(list, "dat", 1));
  EXPECT_EQ(-1, CSundry::findStringInStringArray(list, nullptr, 1));
  EXPECT_EQ((Items{"data", "DATA", "\xC4RGER"}), items(list));

  List mixed{"c", "A", "c", "", "a", "A", "", "c"};  // first occurrences stay, in order
  CSundry::RemoveDuplicatesFromList(mixed);
  EXPECT_EQ((Items{"c", "A", "", "a"}), items(mixed));

  List target{"a", "b"};
  EXPECT_EQ(1, CSundry::addStringsToStringArray(target, List{"b", "c", "b"}));
  EXPECT_EQ(1, CSundry::addStringsToStringArray(target, List{"C", "c", "C"}));  // case counts
  EXPECT_EQ(0, CSundry::addStringsToStringArray(target, target));
  EXPECT_EQ((Items{"a", "b", "c", "C"}), items(target));
}

TEST(UserAddress, ShapeLengthAndDomainList) {
  auto verify = [](CString& address, CStringArray* domains = nullptr) {
    return CSundry::VerifyUserAddress(address, 2, 4, 1, 64, domains);
  };
  CString address(" \tjohn@example.com \t ");
  EXPECT_EQ(1, verify(address));
  EXPECT_EQ("john@example.com", address.str());
  for (const std::string& bad : std::vector<std::string>{"john@examplecom", "john@.com", "@example.com", "jo hn@example.com",
                                "john@example.comcomc", "johnexample.com", "jo.hn@examplecom", "john@example.c",
                                std::string(65, 'u') + "@example.com"}) {
    CString text(bad);
    EXPECT_EQ(0, verify(text)) << bad;
  }
  for (const std::string& good : {std::string("j@x@mail.example.info"), std::string(64, 'u') + "@example.com"}) {
    CString text(good);
    EXPECT_EQ(1, verify(text)) << good;
  }
  // Domains: whole ones only, case ignored; the list is lower-cased up to
  // the match.
  List domains{"Other.ORG", "ExAmple.COM", "Third.NET"};
  CString upper("john@EXAMPLE.com"), sub("john@mail.example.com");
  EXPECT_EQ(1, verify(upper, &domains));
  EXPECT_EQ((Items{"other.org", "example.com", "Third.NET"}), items(domains));
  EXPECT_EQ("john@EXAMPLE.com", upper.str());
  EXPECT_EQ(0, verify(sub, &domains));
  EXPECT_EQ((Items{"other.org", "example.com", "third.net"}), items(domains));
}

using DualRegistryListTest = sundry::test::RegistryTest;

TEST_F(DualRegistryListTest, TakesSubKeysWithANonEmptyValueAndAppends) {
  setText("Software\\Dial\\A", "Port", "x", HKEY_LOCAL_MACHINE);
  setText("Software\\Dial\\B", "Other", "y", HKEY_LOCAL_MACHINE);
  setText("Software\\Dial\\D", "Port", "", HKEY_LOCAL_MACHINE);
  setText("Software\\Dial\\Modem Two", "port", "COM2", HKEY_LOCAL_MACHINE);
  setText("Software\\Dial\\Modem Two", "", "default", HKEY_LOCAL_MACHINE);
  List names{"kept"}, values{"kept value"};
  for (int from : {1, 3}) {  // a second call appends after the first
    EXPECT_EQ(2, CSundry::LoadDualRegistryList("Software\\Dial", "Port", names, values));
    std::map<std::string, std::string> pairs;  // in a fixed order
    for (int i = from; i < names.GetSize(); ++i) pairs[names.GetAt(i).str()] = values.GetAt(i).str();
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "x"}, {"Modem Two", "COM2"}}), pairs);
  }
  EXPECT_EQ("kept value", values.GetAt(0).str());
  CStringArray defaults, texts;
  EXPECT_EQ(1, CSundry::LoadDualRegistryList("Software\\Dial", nullptr, defaults, texts));
  EXPECT_EQ((Items{"default"}), items(texts));
  EXPECT_EQ(0, CSundry::LoadDualRegistryList("Software\\Nowhere", "Port", names, values));
  EXPECT_EQ(0, CSundry::LoadDualRegistryList(nullptr, "Port", names, values));
  EXPECT_EQ(5, names.GetSize());
}

}  // namespace

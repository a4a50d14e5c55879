// CSundry: strings, string lists, clock times, GUIDs, address checks and the
// dual registry list.

#include <sundry/registry/RegistryKey.h>
#include <sundry/util/Sundry.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <unordered_set>

namespace {

// Entries of a string list as a set, for membership tests in linear time.
// Equality is that of whole strings with case, as CString's operator==.
using StringSet = std::unordered_set<std::string>;

}  // namespace

CString CSundry::GetTimeString(CTime time, int use24Hour, int showSeconds, int /*reserved*/) {
  // One conversion for all three parts, so they belong to the same instant.
  // A time without a calendar form gives -1 for each part.
  int hour = -1;
  int minute = -1;
  int second = -1;
  struct tm tm;
  if (time.GetLocalTm(&tm) != nullptr) {
    hour = tm.tm_hour;
    minute = tm.tm_min;
    second = tm.tm_sec;
  }

  if (minute == 0 && hour == 12) return CString("Noon");
  if (minute == 0 && hour == 0) return CString("Midnight");

  const char* marker = nullptr;
  int shown = hour;
  if (use24Hour == 0) {
    marker = hour >= 12 ? " PM" : " AM";
    if (hour > 12)
      shown = hour - 12;
    else if (hour == 0)
      shown = 12;
  }

  CString text;
  text.Format("%2d:%02d", shown, minute);
  if (showSeconds == 1) text.AppendFormat(":%02d", second);
  // The marker text begins with a space of its own: two spaces in all.
  if (marker != nullptr) text.AppendFormat(" %s", marker);
  return text;
}

char* CSundry::GUIDtoTCHAR(GUID* guid, char* buffer) {
  if (buffer == nullptr) return nullptr;
  if (guid == nullptr) {
    buffer[0] = '\0';
    return buffer;
  }
  std::snprintf(buffer, iGUIDStringLen, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid->Data1), static_cast<unsigned>(guid->Data2),
                static_cast<unsigned>(guid->Data3), guid->Data4[0], guid->Data4[1], guid->Data4[2], guid->Data4[3],
                guid->Data4[4], guid->Data4[5], guid->Data4[6], guid->Data4[7]);
  return buffer;
}

int CSundry::findStringInStringArray(const CStringArray& list, const char* text, int ignoreCase) {
  if (text == nullptr) return -1;
  const INT_PTR count = list.GetSize();
  if (ignoreCase == 1) {
    CString wanted(text);
    wanted.MakeLower();
    for (INT_PTR i = 0; i < count; ++i) {
      CString entry = list.GetAt(i);
      entry.MakeLower();
      if (entry == wanted) return static_cast<int>(i);
    }
    return -1;
  }
  const CString wanted(text);
  for (INT_PTR i = 0; i < count; ++i)
    if (list.GetAt(i) == wanted) return static_cast<int>(i);
  return -1;
}

void CSundry::RemoveDuplicatesFromList(CStringArray& list) {
  // Compact in place: keep each value at its first occurrence.
  StringSet seen;
  const INT_PTR count = list.GetSize();
  INT_PTR kept = 0;
  try {
    seen.reserve(static_cast<size_t>(count));
    for (INT_PTR i = 0; i < count; ++i) {
      if (!seen.insert(list.GetAt(i).str()).second) continue;
      if (kept != i) list.SetAt(kept, list.GetAt(i));
      ++kept;
    }
  } catch (const std::exception&) {
    // Out of memory for the set: finish by comparing with what was kept,
    // so the list still ends up without duplicates.
    for (INT_PTR i = kept; i < count; ++i) {
      bool repeated = false;
      for (INT_PTR j = 0; j < kept && !repeated; ++j) repeated = list.GetAt(j) == list.GetAt(i);
      if (repeated) continue;
      if (kept != i) list.SetAt(kept, list.GetAt(i));
      ++kept;
    }
  }
  if (kept < count) list.RemoveAt(kept, count - kept);
}

int CSundry::addStringsToStringArray(CStringArray& target, const CStringArray& source) {
  if (&target == &source) return 0;  // every entry is already there
  int added = 0;
  const INT_PTR count = source.GetSize();
  try {
    StringSet present;
    present.reserve(static_cast<size_t>(target.GetSize() + count));
    for (INT_PTR i = 0; i < target.GetSize(); ++i) present.insert(target.GetAt(i).str());
    for (INT_PTR i = 0; i < count; ++i) {
      const CString& entry = source.GetAt(i);
      if (present.count(entry.str()) != 0) continue;
      if (target.Add(entry) < 0) break;  // the list cannot grow
      present.insert(entry.str());
      ++added;
    }
  } catch (const std::exception&) {
    // Out of memory for the set: go on comparing entry by entry.
    for (INT_PTR i = 0; i < count; ++i) {
      const CString& entry = source.GetAt(i);
      bool present = false;
      for (INT_PTR j = 0; j < target.GetSize() && !present; ++j) present = target.GetAt(j) == entry;
      if (present) continue;
      if (target.Add(entry) < 0) break;
      ++added;
    }
  }
  return added;
}

int CSundry::VerifyUserAddress(CString& address, int minSuffix, int maxSuffix, int minUser, int maxUser,
                               CStringArray* domains) {
  address.Trim(" \t");

  const int at = address.Find('@');
  const int dot = address.ReverseFind('.');
  if (at < minUser || at > maxUser) return 0;
  if (dot <= at + 1) return 0;
  const int tail = address.GetLength() - dot - 1;
  if (tail < minSuffix || tail > maxSuffix) return 0;
  if (address.Find(' ') >= 0) return 0;

  if (domains == nullptr || domains->GetSize() == 0) return 1;

  CString domain(address);
  domain.MakeLower();
  domain.Delete(0, domain.Find('@') + 1);
  for (INT_PTR i = 0; i < domains->GetSize(); ++i) {
    CString& entry = domains->ElementAt(i);
    entry.MakeLower();
    if (entry == domain) return 1;
  }
  return 0;
}

int CSundry::LoadDualRegistryList(const char* keyPath, const char* valueName, CStringArray& names,
                                  CStringArray& values) {
  if (keyPath == nullptr || *keyPath == '\0') return 0;
  INT_PTR index = names.GetSize();
  int count = 0;

  // A missing key simply yields no sub-keys.
  CRegistryKey top;
  top.initialize(HKEY_LOCAL_MACHINE, keyPath, 1, TRUE, FALSE, FALSE);

  const char* wanted = valueName != nullptr ? valueName : "";
  CRegistryKey* sub = nullptr;
  for (BOOL more = top.getFirstSubKey(sub); more; more = top.getNextSubKey(sub)) {
    const CString& name = sub->getLastKeyLevel();
    if (name.IsEmpty()) continue;
    CRegistryValue* value = nullptr;
    if (!sub->getValueByName(wanted, value) || value == nullptr) continue;
    CString text = value->getCString(0);
    if (text.IsEmpty()) continue;
    names.SetAtGrow(index, name);
    values.SetAtGrow(index, text);
    ++index;
    ++count;
  }
  return count;
}

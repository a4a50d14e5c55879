#pragma once
// CSundry: static helpers for processes, file versions, shortcuts, devices,
// string lists, clock times, GUIDs, address checks and the dual registry
// list. None keeps state.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/CTime.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CSundry {
 public:
  // Size of a buffer that holds a GUID in text form with its terminator.
  static const int iGUIDStringLen = 39;

  // --- Strings, lists, time and GUIDs ------------------------------------

  // The clock time as text: "Noon", "Midnight", or "%2d:%02d" with optional
  // ":%02d" seconds and, on the 12-hour clock, "  AM" / "  PM".
  static CString GetTimeString(CTime time, int use24Hour, int showSeconds, int reserved);
  // Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into buffer (at least
  // iGUIDStringLen characters) and returns buffer.
  static char* GUIDtoTCHAR(GUID* guid, char* buffer);
  // Index of the first entry equal to text (ignoring case when ignoreCase
  // is 1), or -1.
  static int findStringInStringArray(const CStringArray& list, const char* text, int ignoreCase);
  // Removes every entry equal to an earlier one, keeping the order.
  static void RemoveDuplicatesFromList(CStringArray& list);
  // Appends the entries of source that target does not hold yet; returns how
  // many were appended.
  static int addStringsToStringArray(CStringArray& target, const CStringArray& source);
  // 1 when the e-mail-style address passes the length checks and, when
  // domains are given, its domain is one of them; else 0. Trims the
  // caller's address and lower-cases the caller's domain list.
  static int VerifyUserAddress(CString& address, int minSuffix, int maxSuffix, int minUser, int maxUser,
                               CStringArray* domains);
  // Appends the name of each sub-key of HKEY_LOCAL_MACHINE\keyPath with the
  // text of its value valueName; returns the number of pairs appended.
  static int LoadDualRegistryList(const char* keyPath, const char* valueName, CStringArray& names,
                                  CStringArray& values);

  // --- Processes, files, shortcuts and devices ---------------------------

  // 1 when a running process has that executable name (ignoring case).
  static int FindProcessByExeName(CString& exeName);
  // Ends every running process whose executable name is in the list.
  // 1 unless a termination failed; 0 also when the process list cannot be
  // taken. A matching process the caller may not end (OpenProcess refused
  // with anything but "no such process") counts as a failed termination,
  // and the calling process itself is never ended.
  static int KillProcessByExeName(CStringArray& exeNames);
  static int KillProcessByExeName(CString& exeName);
  // The version of a file's version resource; 1 with the numbers, else 0
  // with all three 0.
  static int GetFileVersion(const char* path, unsigned long& major, unsigned long& minor, unsigned long& build);
  // The version as "%.2d.%.2d.%.3d", or else the file's time stamp.
  static int GetFileVersion(const char* path, CString& version);
  // The file's modification time as local "%Y%m%d%H%M%S".
  static int GetFileTimeStamp(const char* path, CString& stamp);
  // Saves a shortcut "<targetFile>.LNK" in linkFolder (or a special
  // folder) pointing at targetDir\targetFile.
  static int ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments,
                            const char* linkFolder);
  static int ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments, int folderId);
  // Deletes the shortcut "<targetFile>.LNK" from linkFolder (or a special
  // folder). Both ShortcutCreate and ShortcutRemove return 0 without
  // touching any file when targetFile is not a plain file name (it holds a
  // "\\" or "/", or is "." or ".."), so neither reaches outside the folder.
  static int ShortcutRemove(const char* linkFolder, const char* targetFile);
  static int ShortcutRemove(int folderId, const char* targetFile);
  // 1 when a present device of the class has a friendly name beginning with
  // deviceName; its name is copied into foundName (260 characters) when
  // given.
  static int DeviceAvailable(GUID* classGuid, const char* deviceName, char* foundName);
};

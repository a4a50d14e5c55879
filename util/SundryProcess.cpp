// CSundry: finding and ending running programs by their executable name.

#include <sundry/platform/error.h>
#include <sundry/platform/process.h>
#include <sundry/platform/sync.h>
#include <sundry/util/Sundry.h>

namespace {

constexpr const char kExeSuffix[] = ".exe";

bool endsWithExe(const CString& name) {
  const int n = name.GetLength();
  return n >= 4 && name.Right(4).CompareNoCase(kExeSuffix) == 0;
}

// The names a process answers to: its executable name, and, for a name
// without the Windows ending, that name with ".exe" too (a caller looking
// for "netscape.exe" means the program "netscape").
int namesOf(const char* exeFile, CString names[2]) {
  names[0] = exeFile;
  if (endsWithExe(names[0])) return 1;
  names[1] = names[0] + kExeSuffix;
  return 2;
}

}  // namespace

int CSundry::FindProcessByExeName(CString& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  int found = 0;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
    CString names[2];
    const int n = namesOf(entry.szExeFile, names);
    for (int i = 0; i < n && !found; ++i)
      if (names[i].CompareNoCase(exeName) == 0) found = 1;
  }
  CloseHandle(snapshot);
  return found;
}

int CSundry::KillProcessByExeName(CStringArray& exeNames) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  int result = 1;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    CString names[2];
    const int n = namesOf(entry.szExeFile, names);
    bool listed = false;
    for (int i = 0; i < n && !listed; ++i) listed = findStringInStringArray(exeNames, names[i], 1) >= 0;
    // The caller is never ended, even when it carries one of the names: a
    // tool asked to end "sundry" goes on to the other names and reports.
    if (!listed || entry.th32ProcessID == self) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process == nullptr) {
      // A process that ended since the snapshot was taken needs no ending;
      // one the caller may not end (another user's) is a failed termination.
      if (GetLastError() != ERROR_INVALID_PARAMETER) result = 0;
      continue;
    }
    if (!TerminateProcess(process, 0)) result = 0;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return result;
}

int CSundry::KillProcessByExeName(CString& exeName) {
  CStringArray names;
  names.Add(exeName);
  return KillProcessByExeName(names);
}

#pragma once
// CMutexSimple: claims a named mutex shared by every process of the user,
// so that a program can tell whether it is the first instance of something.
//
// The first object to claim a name wins; every later claim of that name, in
// this or any other process, is refused for as long as the holder keeps it.
// There is no waiting. A holder that dies, however it dies, loses its claim
// with it (see <sundry/platform/sync.h> for how the mutex is built).
//
// An object serves one thread at a time and does not lock.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CMutexSimple {
 public:
  // Empty name, no handle.
  CMutexSimple();
  // Gives the mutex up (releaseMutex); the handle is closed even when the
  // release fails, so a destroyed object never leaves a claim behind.
  ~CMutexSimple();

  // A copy takes the name and the attributes but never the handle: only the
  // object that claimed the mutex holds it, and the handle is closed once.
  // Assignment first gives up what the target holds.
  CMutexSimple(const CMutexSimple& other);
  CMutexSimple& operator=(const CMutexSimple& other);

  // Claims the mutex. TRUE when this object holds it afterwards: at once when
  // it already held it (name is then ignored), or when the mutex did not
  // exist. FALSE when it exists (another holder has it) or cannot be made.
  // A null name claims the name stored by an earlier call.
  BOOL getMutex(const char* name);

  // Gives the mutex up. TRUE when nothing was held or the mutex was released
  // and its handle closed; FALSE when the release failed (another thread
  // than the claiming one called), keeping the handle for a later try.
  BOOL releaseMutex();

  const CString& getName() const { return m_Name; }
  BOOL isHeld() const { return m_hMutex != nullptr; }

 private:
  CString m_Name;
  HANDLE m_hMutex;
  SECURITY_ATTRIBUTES m_SecurityAttributes;
};

#pragma once
// The framework's lock types: a critical section and the scoped lock that
// takes it.
//
// CCriticalSection is a recursive mutex of this process: the thread that
// holds it may take it again and must release it as often. CSingleLock takes
// one synchronisation object for a scope and releases it, if still held,
// when it goes. Neither type can be copied.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <mutex>
#include <thread>

#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

class SUNDRY_EXPORT CSyncObject {
 public:
  CSyncObject() = default;
  virtual ~CSyncObject() = default;
  CSyncObject(const CSyncObject&) = delete;
  CSyncObject& operator=(const CSyncObject&) = delete;

  // Takes the object, waiting at most dwTimeout milliseconds (INFINITE: no
  // limit). TRUE when taken; FALSE when the time ran out or the object
  // could not be taken at all.
  virtual BOOL Lock(DWORD dwTimeout = INFINITE) = 0;
  // Releases one level of the calling thread's hold. TRUE, or FALSE when the
  // calling thread did not hold it.
  virtual BOOL Unlock() = 0;
};

class SUNDRY_EXPORT CCriticalSection : public CSyncObject {
 public:
  CCriticalSection() = default;
  ~CCriticalSection() override = default;

  // Lock() never fails while the thread's nesting stays within the system's
  // limit; a bounded dwTimeout waits at most that long.
  BOOL Lock(DWORD dwTimeout = INFINITE) override;
  BOOL Unlock() override;

 private:
  std::recursive_timed_mutex m_mutex;
  std::mutex m_ownerLock;  // guards the two fields below
  std::thread::id m_owner;
  unsigned m_depth = 0;
};

class SUNDRY_EXPORT CSingleLock {
 public:
  // Takes pObject at once when bInitialLock is TRUE (wait without limit).
  explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
  ~CSingleLock();
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

  // Takes the object (once: a second Lock while held returns TRUE without
  // taking it again). FALSE when it was not obtained in time, or for a null
  // object.
  BOOL Lock(DWORD dwTimeout = INFINITE);
  // Releases the object when this lock holds it. TRUE when it was released.
  BOOL Unlock();
  BOOL IsLocked() const { return m_bAcquired; }

 private:
  CSyncObject* m_pObject;
  BOOL m_bAcquired = FALSE;
};

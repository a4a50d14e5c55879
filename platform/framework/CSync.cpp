// The critical section and the scoped lock.

#include <sundry/platform/CSync.h>

#include <chrono>
#include <system_error>

BOOL CCriticalSection::Lock(DWORD dwTimeout) {
  try {
    if (dwTimeout == INFINITE) {
      m_mutex.lock();
    } else if (!m_mutex.try_lock_for(std::chrono::milliseconds(dwTimeout))) {
      return FALSE;
    }
  } catch (const std::system_error&) {
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(m_ownerLock);
  m_owner = std::this_thread::get_id();
  ++m_depth;
  return TRUE;
}

BOOL CCriticalSection::Unlock() {
  {
    std::lock_guard<std::mutex> hold(m_ownerLock);
    // Releasing a mutex that the thread does not hold is undefined; refuse.
    if (m_depth == 0 || m_owner != std::this_thread::get_id()) return FALSE;
    if (--m_depth == 0) m_owner = std::thread::id();
  }
  m_mutex.unlock();
  return TRUE;
}

CSingleLock::CSingleLock(CSyncObject* pObject, BOOL bInitialLock) : m_pObject(pObject) {
  if (bInitialLock) Lock();
}

CSingleLock::~CSingleLock() { Unlock(); }

BOOL CSingleLock::Lock(DWORD dwTimeout) {
  if (m_pObject == nullptr) return FALSE;
  if (m_bAcquired) return TRUE;
  m_bAcquired = m_pObject->Lock(dwTimeout);
  return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
  if (m_pObject == nullptr || !m_bAcquired) return FALSE;
  m_bAcquired = !m_pObject->Unlock();
  return !m_bAcquired;
}

// CMutexSimple: first holder of a named mutex wins.

#include <sundry/platform/error.h>
#include <sundry/platform/sync.h>
#include <sundry/util/MutexSimple.h>

#include <cstring>

CMutexSimple::CMutexSimple() : m_hMutex(nullptr) {
  std::memset(&m_SecurityAttributes, 0, sizeof m_SecurityAttributes);
}

CMutexSimple::~CMutexSimple() {
  if (!releaseMutex() && m_hMutex != nullptr) {
    // The claiming thread is not the one destroying the object: the
    // ownership cannot be given up from here, but the handle must not
    // outlive the object, or the mutex would stay claimed until the process
    // ends.
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
}

CMutexSimple::CMutexSimple(const CMutexSimple& other)
    : m_Name(other.m_Name), m_hMutex(nullptr), m_SecurityAttributes(other.m_SecurityAttributes) {}

CMutexSimple& CMutexSimple::operator=(const CMutexSimple& other) {
  if (this == &other) return *this;
  releaseMutex();
  if (m_hMutex != nullptr) {
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
  m_Name = other.m_Name;
  m_SecurityAttributes = other.m_SecurityAttributes;
  return *this;
}

BOOL CMutexSimple::getMutex(const char* name) {
  if (m_hMutex != nullptr) return TRUE;
  if (name != nullptr) m_Name = name;

  // Not inheritable: on this system every program started with fork and
  // exec would inherit the descriptor (there is no per-launch choice as
  // with CreateProcess), and a started program that outlives a crashed
  // holder would keep the claim alive and lock out every later instance.
  m_SecurityAttributes.nLength = sizeof m_SecurityAttributes;
  m_SecurityAttributes.lpSecurityDescriptor = nullptr;
  m_SecurityAttributes.bInheritHandle = FALSE;

  m_hMutex = CreateMutexA(&m_SecurityAttributes, TRUE, m_Name);
  if (m_hMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
  return m_hMutex != nullptr ? TRUE : FALSE;
}

BOOL CMutexSimple::releaseMutex() {
  if (m_hMutex == nullptr) return TRUE;
  BOOL released = ReleaseMutex(m_hMutex);
  if (released != TRUE) return released;
  if (CloseHandle(m_hMutex) == TRUE) m_hMutex = nullptr;
  return TRUE;
}

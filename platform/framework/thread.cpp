// The framework's run-time classes and worker thread, on the Win32 message
// functions and the standard thread library.

#include <sundry/platform/error.h>
#include <sundry/platform/thread.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::mutex g_classLock;
std::vector<const CRuntimeClass*>& classes() {
  static auto* list = new std::vector<const CRuntimeClass*>;  // filled before main, never freed
  return *list;
}

}  // namespace

void CRuntimeClass::Register(const CRuntimeClass* record) {
  std::lock_guard<std::mutex> guard(g_classLock);
  classes().push_back(record);
}

const CRuntimeClass* CRuntimeClass::FromName(const char* lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(g_classLock);
  for (const CRuntimeClass* record : classes())
    if (std::strcmp(record->m_lpszClassName, lpszClassName) == 0) return record;
  return nullptr;
}

CObject* CRuntimeClass::CreateObject() const {
  return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

CObject* CRuntimeClass::CreateObject(const char* lpszClassName) {
  const CRuntimeClass* record = FromName(lpszClassName);
  return record != nullptr ? record->CreateObject() : nullptr;
}

struct CWinThread::Impl {
  std::thread thread;
  std::mutex lock;
  std::condition_variable started;
  bool ready = false;
};

CWinThread::CWinThread() : m_impl(new Impl) {}

CWinThread::~CWinThread() {
  // Last resort only: a derived class ends its thread in its own destructor.
  if (m_impl->thread.joinable() && m_impl->thread.get_id() != std::this_thread::get_id()) {
    ::PostThreadMessageA(m_nThreadID, WM_QUIT, 0, 0);
    m_impl->thread.join();
  } else if (m_impl->thread.joinable()) {
    m_impl->thread.detach();
  }
}

BOOL CWinThread::CreateThread(DWORD, UINT, LPSECURITY_ATTRIBUTES) {
  if (m_impl->thread.joinable() || m_nThreadID != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    m_impl->thread = std::thread([this] {
      // The queue exists before the creator learns the thread's id.
      MSG probe;
      ::PeekMessageA(&probe, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        m_nThreadID = ::GetCurrentThreadId();
        m_impl->ready = true;
      }
      m_impl->started.notify_all();
      try {
        if (!InitInstance()) ExitInstance();
        else Run();
      } catch (...) {
        // Nothing may leave the thread; the loop has ended either way.
      }
    });
  } catch (const std::system_error&) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return FALSE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::unique_lock<std::mutex> guard(m_impl->lock);
  m_impl->started.wait(guard, [&] { return m_impl->ready; });
  return TRUE;
}

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessageA(m_nThreadID, message, wParam, lParam);
}

void CWinThread::Join() {
  if (m_impl->thread.joinable() && m_impl->thread.get_id() != std::this_thread::get_id()) m_impl->thread.join();
}

BOOL CWinThread::InitInstance() { return FALSE; }

int CWinThread::ExitInstance() { return 0; }

BOOL CWinThread::DispatchThreadMessageEx(MSG*) { return FALSE; }

int CWinThread::Run() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    DispatchThreadMessageEx(&msg);
  }
  return ExitInstance();
}

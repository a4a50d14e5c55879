#pragma once
// Threads with message queues: the Win32 thread-message functions and the
// framework's run-time classes and worker thread (CRuntimeClass, CObject,
// CWinThread).
//
// A thread has a message queue once it has called PeekMessageA or
// GetMessageA, or, for a CWinThread, from the moment CreateThread returns;
// the queue goes when the thread ends. Messages posted to a thread are
// handed out in the order they were posted. The quit request of
// PostQuitMessage is not a posted message: GetMessageA and PeekMessageA
// hand out WM_QUIT only when no posted message is left that the filter
// takes, as on Windows.
//
// Every function here may be called from any thread; the queue functions
// that take no thread id work on the calling thread's own queue.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <atomic>
#include <memory>


#if !defined(_WIN32)
// On Windows the message records and functions are the system's own.

// A message as GetMessageA and PeekMessageA hand it out, laid out as
// Win32's MSG. hwnd is always null (thread messages); time is the
// milliseconds since the system started when the message was posted; pt is
// zero (there is no cursor).
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

#define WM_QUIT 0x0012u
#define WM_USER 0x0400u
// Flags of PeekMessageA.
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

extern "C" {

// The calling thread's system-wide identifier (its Linux thread id): never
// 0, unique among running threads.
SUNDRY_EXPORT DWORD GetCurrentThreadId(void);

// Appends a message to the queue of thread idThread and returns at once.
// A posted WM_QUIT is handed out in its turn like any other message (and
// makes GetMessageA return 0), unlike the quit request of PostQuitMessage.
// FALSE with ERROR_INVALID_THREAD_ID when no thread of this process with
// that id has a message queue (it never had one, or it has ended);
// ERROR_NOT_ENOUGH_QUOTA when 10,000 messages are already waiting there.
SUNDRY_EXPORT BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);

// Looks for a message in the calling thread's queue (making the queue when
// the thread has none) without waiting. hWnd must be null. With
// wMsgFilterMin and wMsgFilterMax both 0 every message is taken, otherwise
// only messages whose number lies between them, both included. Returns
// TRUE and fills *lpMsg with the first such message (removed from the queue
// with PM_REMOVE, left there with PM_NOREMOVE), or FALSE when none waits
// (last error untouched). FALSE with ERROR_INVALID_PARAMETER for a null
// lpMsg, a window handle or other flags.
SUNDRY_EXPORT BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);

// Waits for a message in the calling thread's queue (with the filter of
// PeekMessageA) and removes it. Returns a non-zero value for a message,
// 0 for WM_QUIT (the quit request is then cleared; wParam holds its exit
// code) and -1 with ERROR_INVALID_PARAMETER for a null lpMsg or a window
// handle.
SUNDRY_EXPORT BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);

// Asks the calling thread's message loop to end: WM_QUIT with nExitCode is
// handed out once the posted messages before it are gone.
SUNDRY_EXPORT void PostQuitMessage(int nExitCode);
}
#endif  // !_WIN32

class CObject;

// The run-time record of a class creatable by name (DECLARE_DYNCREATE /
// IMPLEMENT_DYNCREATE). Records are listed when the library (or program)
// that holds them is loaded.
struct SUNDRY_EXPORT CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  CObject* (*m_pfnCreateObject)();

  // A new object of the class made with its default constructor, owned by
  // the caller (delete it); null when the class cannot be created or memory
  // runs out. Never throws.
  CObject* CreateObject() const;
  // The record of the class named lpszClassName (case sensitive), or null.
  static const CRuntimeClass* FromName(const char* lpszClassName);
  // FromName(lpszClassName)->CreateObject(), or null.
  static CObject* CreateObject(const char* lpszClassName);

  // Adds a record to the list FromName searches; IMPLEMENT_DYNCREATE does it.
  static void Register(const CRuntimeClass* record);
};

class SUNDRY_EXPORT CObject {
 public:
  virtual ~CObject() = default;
  // The run-time record of the object's class; null for classes that are
  // not creatable by name.
  virtual const CRuntimeClass* GetRuntimeClass() const { return nullptr; }
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNCREATE(class_name)                            \
 public:                                                         \
  static const CRuntimeClass class##class_name;                  \
  static CObject* CreateObject();                                \
  const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNCREATE(class_name)                                                             \
  CObject* class_name::CreateObject() {                                                             \
    try {                                                                                           \
      return new class_name;                                                                        \
    } catch (...) {                                                                                 \
      return nullptr;                                                                               \
    }                                                                                               \
  }                                                                                                 \
  const CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)), \
                                                       &class_name::CreateObject};                  \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }    \
  static const bool sundry_registered_##class_name =                                                \
      (CRuntimeClass::Register(RUNTIME_CLASS(class_name)), true);

// A thread with a message loop. CreateThread starts the thread; it calls
// InitInstance, and when that returns TRUE runs the message loop (Run):
// every message is handed to DispatchThreadMessageEx (the stand-in for the
// framework's thread message map) until WM_QUIT, then ExitInstance gives the
// thread's exit code. When InitInstance returns FALSE, ExitInstance is
// called at once.
//
// The object is owned by its creator; the thread never deletes it. A
// derived class whose handlers use its own members must end the thread
// (post it a quit and Join) in its own destructor: once that has run, the
// thread would call into a half-destroyed object. ~CWinThread posts WM_QUIT
// and joins as a last resort.
class SUNDRY_EXPORT CWinThread : public CObject {
 public:
  CWinThread();
  ~CWinThread() override;
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  // Starts the thread; when it returns TRUE the thread has its message queue
  // and m_nThreadID is set, so messages may be posted at once. The flags,
  // stack size and security attributes are accepted and not used. FALSE
  // with ERROR_INVALID_PARAMETER when the thread was started already,
  // ERROR_NO_SYSTEM_RESOURCES when no thread can be made.
  BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

  // Posts a message to this thread (PostThreadMessageA with m_nThreadID).
  BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // Waits until the thread has ended. Does nothing when it never started,
  // has been joined already, or when called on the thread itself.
  void Join();

  virtual BOOL InitInstance();
  virtual int ExitInstance();
  // The message loop; returns the thread's exit code.
  virtual int Run();
  // Handles one message taken from the queue: TRUE when handled. The base
  // handles none.
  virtual BOOL DispatchThreadMessageEx(MSG* pMsg);

  // The thread's id once started, else 0.
  std::atomic<DWORD> m_nThreadID{0};

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Thread message queues: one queue per thread that asked for one, found by
// thread id in a process-wide table, removed when its thread ends.

#include <sundry/platform/error.h>
#include <sundry/platform/thread.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace {

constexpr size_t kQueueLimit = 10000;

struct Queue {
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
};

std::mutex g_tableLock;
std::map<DWORD, std::shared_ptr<Queue>>& table() {
  static auto* queues = new std::map<DWORD, std::shared_ptr<Queue>>;  // outlives every thread
  return *queues;
}

// The calling thread's queue, made on first use and taken out of the table
// when the thread ends.
struct OwnQueue {
  std::shared_ptr<Queue> queue;
  DWORD id = 0;
  ~OwnQueue() {
    if (!queue) return;
    std::lock_guard<std::mutex> guard(g_tableLock);
    table().erase(id);
  }
};
thread_local OwnQueue t_own;

Queue* ownQueue() {
  if (!t_own.queue) {
    auto queue = std::make_shared<Queue>();
    const DWORD id = GetCurrentThreadId();
    std::lock_guard<std::mutex> guard(g_tableLock);
    table()[id] = queue;
    t_own.id = id;
    t_own.queue = std::move(queue);
  }
  return t_own.queue.get();
}

DWORD tickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool inFilter(UINT message, UINT low, UINT high) {
  return (low == 0 && high == 0) || (message >= low && message <= high);
}

// Takes the first message the filter lets through (the quit request only
// when no posted one does). Called with the queue's lock held.
bool take(Queue& q, MSG* out, UINT low, UINT high, bool remove) {
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!inFilter(it->message, low, high)) continue;
    *out = *it;
    if (remove) q.posted.erase(it);
    return true;
  }
  if (q.quit && inFilter(WM_QUIT, low, high)) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(q.quitCode);
    out->time = tickCount();
    if (remove) q.quit = false;
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

DWORD GetCurrentThreadId(void) { return static_cast<DWORD>(::gettid()); }

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> queue;
  {
    std::lock_guard<std::mutex> guard(g_tableLock);
    auto found = table().find(idThread);
    if (found != table().end()) queue = found->second;
  }
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  try {
    std::lock_guard<std::mutex> guard(queue->lock);
    if (queue->posted.size() >= kQueueLimit) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return FALSE;
    }
    MSG msg{};
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = tickCount();
    queue->posted.push_back(msg);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  queue->arrived.notify_all();
  return TRUE;
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr || hWnd != nullptr || (wRemoveMsg & ~PM_REMOVE) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    Queue* q = ownQueue();
    std::lock_guard<std::mutex> guard(q->lock);
    return take(*q, lpMsg, wMsgFilterMin, wMsgFilterMax, wRemoveMsg == PM_REMOVE) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr || hWnd != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  try {
    Queue* q = ownQueue();
    std::unique_lock<std::mutex> guard(q->lock);
    q->arrived.wait(guard, [&] { return take(*q, lpMsg, wMsgFilterMin, wMsgFilterMax, true); });
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
}

void PostQuitMessage(int nExitCode) {
  try {
    Queue* q = ownQueue();
    {
      std::lock_guard<std::mutex> guard(q->lock);
      q->quit = true;
      q->quitCode = nExitCode;
    }
    q->arrived.notify_all();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
}

}  // extern "C"

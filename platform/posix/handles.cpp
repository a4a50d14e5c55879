// The handle table.

#include "platform/posix/handles.h"

#include <sundry/platform/error.h>
#include <sundry/platform/sync.h>

#include <pthread.h>

#include <cstdint>
#include <exception>
#include <unordered_map>

namespace sundry::platform::posix {
namespace {

struct Entry {
  HandleKind kind;
  void* object;
  HandleCloser closer;
};

struct Table {
  std::mutex lock;
  std::unordered_map<uintptr_t, Entry> handles;
  uintptr_t next = 0;
  void (*forkChildHook)() = nullptr;
};

Table& table();

void atForkPrepare() { table().lock.lock(); }
void atForkParent() { table().lock.unlock(); }
void atForkChild() {
  Table& t = table();
  if (t.forkChildHook != nullptr) t.forkChildHook();
  t.lock.unlock();
}

Table& table() {
  // Never destroyed: handles may be closed from static destructors.
  static Table* t = [] {
    auto* made = new Table;
    pthread_atfork(atForkPrepare, atForkParent, atForkChild);
    return made;
  }();
  return *t;
}

Entry* findLocked(Table& t, HANDLE handle) {
  auto it = t.handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.handles.end() ? nullptr : &it->second;
}

}  // namespace

std::mutex& HandleTableLock() { return table().lock; }

HANDLE HandleNewLocked(HandleKind kind, void* object, HandleCloser closer) {
  if (object == nullptr || closer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = table();
  try {
    t.next += 4;  // as Windows, multiples of 4; never reused
    t.handles.emplace(t.next, Entry{kind, object, closer});
  } catch (const std::exception&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(t.next);
}

void* HandleLookupLocked(HANDLE handle, HandleKind kind) {
  Entry* e = findLocked(table(), handle);
  if (e == nullptr || e->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return e->object;
}

HANDLE HandleNew(HandleKind kind, void* object, HandleCloser closer) {
  std::lock_guard<std::mutex> hold(table().lock);
  return HandleNewLocked(kind, object, closer);
}

void* HandleLookup(HANDLE handle, HandleKind kind) {
  std::lock_guard<std::mutex> hold(table().lock);
  return HandleLookupLocked(handle, kind);
}

void HandleSetForkChildHook(void (*hook)()) {
  std::lock_guard<std::mutex> hold(table().lock);
  table().forkChildHook = hook;
}

}  // namespace sundry::platform::posix

extern "C" BOOL CloseHandle(HANDLE hObject) {
  using namespace sundry::platform::posix;
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.handles.find(reinterpret_cast<uintptr_t>(hObject));
  if (it == t.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Entry entry = it->second;
  t.handles.erase(it);
  return entry.closer(entry.object);
}

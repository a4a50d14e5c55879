// The Win32 registry functions over the embedded store (registry_store.*).
//
// This file owns what Windows keeps per process: the handle table, the
// access mask of each handle, and the buffer and argument rules of each
// function. One mutex serialises every call; the store is one SQLite
// connection per process.

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include "platform/regstore/registry_store.h"
#include "platform/winapi/registry_internal.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace regstore = sundry::platform::regstore;
using sundry::platform::regstore::KeyId;
using sundry::platform::regstore::KeyInfo;
using sundry::platform::regstore::KeyRow;
using sundry::platform::regstore::Root;
using sundry::platform::regstore::Store;
using sundry::platform::regstore::ValueRow;

namespace {

constexpr size_t kMaxKeyNameLen = sundry::platform::kRegMaxKeyNameLength;
constexpr size_t kMaxValueNameLen = sundry::platform::kRegMaxValueNameLength;
constexpr size_t kEnumBatchRows = 256;  // rows fetched at once by an enumeration
constexpr size_t kEnumBatchBytes = 1 << 20;

// Handle values run 0x1000, 0x1004, ... up to kLastHandle and then start
// again at the bottom, skipping the values still open. So they never reach
// the predefined keys (0x80000000 and up), and a closed value is handed out
// again only after every other value of the range has been: a stale handle
// is recognised as closed for the next half a billion opens.
constexpr uintptr_t kFirstHandle = 0x1000;
constexpr uintptr_t kLastHandle = 0x7FFFFFFC;
constexpr size_t kHandleValues = (kLastHandle - kFirstHandle) / 4 + 1;

// One step of an enumeration by rising index: a batch of rows fetched
// together, valid while this process has written nothing since (see
// Handle::generation) and the enumeration goes on from where it stopped.
template <class Row>
struct EnumBatch {
  bool valid = false;
  uint64_t generation = 0;
  DWORD start = 0;  // index of rows[0]
  bool more = false;
  std::vector<Row> rows;
};

struct Handle {
  KeyId key = 0;
  std::string path;  // folded full path, for opening relative to this handle
  REGSAM access = 0;
  bool root = false;        // a root or HKEY_CLASSES_ROOT: never deleted
  bool predefined = false;  // the record of a predefined handle value (State::roots)
  EnumBatch<ValueRow> values;
  EnumBatch<KeyRow> subKeys;
};

struct State {
  std::mutex mu;
  // A transaction of RegistryBeginTransaction belongs to one thread; the
  // calls of other threads wait for its end.
  std::condition_variable transactionEnded;
  std::thread::id transactionOwner;
  int transactionDepth = 0;
  std::unique_ptr<Store> store;
  std::string path;
  std::string chosenPath;  // set by RegistryUseStore; empty: the environment names the store
  bool forked = false;  // the store was inherited through fork()
  std::unordered_map<uintptr_t, std::unique_ptr<Handle>> handles;
  uintptr_t nextHandle = kFirstHandle;
  uint64_t generation = 1;  // bumped by every write of this process
  Handle roots[regstore::kRootCount];
  std::string scratch;  // folded names, reused (always used under mu)
};

State& S() {
  static State* s = new State;  // never destroyed: handles may outlive static destructors
  return *s;
}

// A child made by fork() must not use its parent's SQLite connection: it is
// closed (which touches no lock of the parent's: POSIX locks belong to the
// process that took them) and opened anew on the next call. The mutex is
// held across fork() so that no call is half-way in the child.
void AtForkPrepare() { S().mu.lock(); }
void AtForkParent() { S().mu.unlock(); }
void AtForkChild() {
  State& s = S();
  if (s.store) s.forked = true;
  // A transaction open in the parent is the parent's to end; the child's
  // copy of the connection is dropped with everything it held.
  s.transactionDepth = 0;
  s.transactionOwner = std::thread::id();
  s.mu.unlock();
}

struct AtForkRegistration {
  AtForkRegistration() { pthread_atfork(AtForkPrepare, AtForkParent, AtForkChild); }
} g_atFork;

// The Win32 registry functions leave the thread's last error as it was.
class KeepLastError {
 public:
  KeepLastError() : m_saved(GetLastError()) {}
  ~KeepLastError() { SetLastError(m_saved); }

 private:
  DWORD m_saved;
};

// Holds the registry mutex for one call, after waiting for a transaction
// of another thread to end.
class ApiLock {
 public:
  explicit ApiLock(State& s) : m_lock(s.mu) {
    while (s.transactionDepth > 0 && s.transactionOwner != std::this_thread::get_id()) s.transactionEnded.wait(m_lock);
  }

 private:
  std::unique_lock<std::mutex> m_lock;
};

// Runs one registry call: the thread's last error is left as it was, and an
// exception (out of memory, in practice) becomes the call's result code, so
// that none leaves the library.
template <class Fn>
LONG Guarded(Fn fn) {
  KeepLastError keepLastError;
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

// The store file: the one RegistryUseStore chose, else the one the
// environment names.
std::string StorePath(const State& s) {
  if (!s.chosenPath.empty()) return s.chosenPath;
  const char* v = std::getenv("SUNDRY_REGISTRY");
  if (v && *v) return v;
  v = std::getenv("XDG_DATA_HOME");
  if (v && *v == '/') return std::string(v) + "/sundry/registry.db";
  v = std::getenv("HOME");
  return std::string(v && *v ? v : ".") + "/.local/share/sundry/registry.db";
}

// Opens the store on first use (or after a fork, a reset or a change of
// store). Called with the mutex held. A failure is not remembered: the next
// call tries again.
LONG EnsureStore(State& s) {
  if (s.forked) {
    s.store.reset();
    s.forked = false;
  }
  if (s.store) return ERROR_SUCCESS;
  std::string path = StorePath(s);
  std::unique_ptr<Store> store;
  LONG rc = Store::Open(path, &store);
  if (rc != ERROR_SUCCESS) return rc;
  for (int r = 0; r < regstore::kRootCount; ++r) {
    Handle& h = s.roots[r];
    h = Handle();
    h.key = store->RootId(static_cast<Root>(r));
    h.path = regstore::kRootPaths[r];
    h.access = KEY_ALL_ACCESS;
    h.root = true;
    h.predefined = true;
  }
  s.store = std::move(store);
  s.path = std::move(path);
  return ERROR_SUCCESS;
}

// Closes the store, so that the next call opens the one StorePath names.
void CloseStore(State& s) {
  s.store.reset();
  s.forked = false;
  ++s.generation;
}

// The root a predefined handle value stands for, or -1. Only the low 32
// bits count, as on 64-bit Windows.
int PredefinedRoot(HKEY h) {
  switch (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h))) {
    case 0x80000000u: return regstore::kClassesRoot;
    case 0x80000001u: return regstore::kCurrentUser;
    case 0x80000002u: return regstore::kLocalMachine;
    case 0x80000003u: return regstore::kUsers;
    case 0x80000005u: return regstore::kCurrentConfig;
    case 0x80000006u: return regstore::kDynData;
    default: return -1;
  }
}

bool IsPredefinedValue(HKEY h) {
  uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
  return reinterpret_cast<uintptr_t>(h) >= 0x80000000u && low >= 0x80000000u && low <= 0x80000007u;
}

// Finds the handle record of hKey, opening the store when needed.
// ERROR_INVALID_HANDLE for null, closed, unknown and unsupported handles.
LONG Resolve(State& s, HKEY hKey, Handle** out) {
  if (hKey == nullptr) return ERROR_INVALID_HANDLE;
  auto it = s.handles.find(reinterpret_cast<uintptr_t>(hKey));
  int root = it == s.handles.end() ? PredefinedRoot(hKey) : -1;
  if (it == s.handles.end() && root < 0) return ERROR_INVALID_HANDLE;
  LONG rc = EnsureStore(s);
  if (rc != ERROR_SUCCESS) return rc;
  *out = root >= 0 ? &s.roots[root] : it->second.get();
  return ERROR_SUCCESS;
}

// The frame of every function on an open key: Guarded, with the registry
// mutex held, hKey resolved to its record h, and every access right in
// `needed` checked against h's mask (ERROR_ACCESS_DENIED). Runs fn(s, h).
template <class Fn>
LONG WithKey(HKEY hKey, REGSAM needed, Fn fn) {
  return Guarded([&]() -> LONG {
    State& s = S();
    ApiLock lock(s);
    Handle* h = nullptr;
    LONG rc = Resolve(s, hKey, &h);
    if (rc != ERROR_SUCCESS) return rc;
    if ((h->access & needed) != needed) return ERROR_ACCESS_DENIED;
    return fn(s, *h);
  });
}

// After a write: enumerations of this process fetch afresh (see LoadRow).
LONG Wrote(State& s, LONG rc) {
  ++s.generation;
  return rc;
}

REGSAM GrantedAccess(REGSAM sam) {
  REGSAM granted = sam & (KEY_ALL_ACCESS | KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  if (sam & (MAXIMUM_ALLOWED | 0x10000000u /* GENERIC_ALL */)) granted |= KEY_ALL_ACCESS;
  if (sam & GENERIC_READ) granted |= KEY_READ;
  if (sam & GENERIC_WRITE) granted |= KEY_WRITE;
  if (sam & 0x20000000u /* GENERIC_EXECUTE */) granted |= KEY_EXECUTE;
  return granted;
}

HKEY NewHandle(State& s, KeyId key, std::string path, REGSAM access) {
  auto h = std::make_unique<Handle>();
  h->key = key;
  h->path = std::move(path);
  h->access = GrantedAccess(access);
  if (s.handles.size() >= kHandleValues) throw std::bad_alloc();  // every value is open
  uintptr_t value = s.nextHandle;
  while (s.handles.count(value) != 0) value = value >= kLastHandle ? kFirstHandle : value + 4;
  s.handles.emplace(value, std::move(h));
  s.nextHandle = value >= kLastHandle ? kFirstHandle : value + 4;
  return reinterpret_cast<HKEY>(value);
}

// Key names hold printable characters only, as on Windows: no control
// character (nor, being the separator, a backslash). A line break in a name
// could not be written to a .reg file, and a name is shown on terminals.
bool HasControlCharacter(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// Checks the names of a key about to be made below the key with the folded
// path basePath: ERROR_INVALID_PARAMETER for a name longer than 255
// characters or with a control character, ERROR_FILENAME_EXCED_RANGE when
// the key would lie deeper than kRegMaxKeyDepth levels or its full path
// would be longer than kRegMaxKeyPathLength characters.
LONG CheckNewKeyNames(std::string_view basePath, const std::vector<std::string_view>& parts) {
  size_t length = basePath.size();
  size_t depth = 0;
  for (char c : basePath) depth += c == '\\';
  for (std::string_view p : parts) {
    if (p.size() > kMaxKeyNameLen || HasControlCharacter(p)) return ERROR_INVALID_PARAMETER;
    length += 1 + p.size();
    ++depth;
  }
  if (depth > sundry::platform::kRegMaxKeyDepth || length > sundry::platform::kRegMaxKeyPathLength)
    return ERROR_FILENAME_EXCED_RANGE;
  return ERROR_SUCCESS;
}

LONG CheckValueName(std::string_view name) {
  if (name.size() > kMaxValueNameLen || HasControlCharacter(name)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// After a rolled-back transaction: the keys it made are gone and their ids
// may be given to new keys, so handles opened to them meanwhile are retired
// (they answer ERROR_KEY_DELETED, as for any deleted key).
void RetireHandlesOfVanishedKeys(State& s) {
  for (auto& entry : s.handles) {
    Handle& h = *entry.second;
    if (h.root || h.key <= 0) continue;
    if (s.store->CheckKey(h.key) == ERROR_KEY_DELETED) h.key = -1;
  }
}

// Splits a sub-key path at its backslashes; doubled and trailing ones are
// skipped as on Windows. A leading backslash is ERROR_BAD_PATHNAME, except
// below HKEY_CLASSES_ROOT itself, which Windows resolves without it.
LONG SplitPath(const char* sub, bool leadingAllowed, std::vector<std::string_view>* parts) {
  parts->clear();
  if (sub == nullptr) return ERROR_SUCCESS;
  std::string_view p(sub);
  if (!p.empty() && p[0] == '\\' && !leadingAllowed) return ERROR_BAD_PATHNAME;
  size_t i = 0;
  while (i < p.size()) {
    size_t j = p.find('\\', i);
    if (j == std::string_view::npos) j = p.size();
    if (j > i) parts->push_back(p.substr(i, j - i));
    i = j + 1;
  }
  return ERROR_SUCCESS;
}

void AppendFolded(std::string* path, const std::vector<std::string_view>& parts) {
  std::string fold;
  for (std::string_view part : parts) {
    regstore::Fold(part, &fold);
    *path += '\\';
    *path += fold;
  }
}

// A sub-key path given below an open key: its names and the folded full
// path of the key it names.
struct SubKeyPath {
  std::vector<std::string_view> parts;
  std::string path;
};

LONG ParseSubKey(State& s, const Handle& base, const char* sub, SubKeyPath* out) {
  LONG rc = SplitPath(sub, &base == &s.roots[regstore::kClassesRoot], &out->parts);
  if (rc != ERROR_SUCCESS) return rc;
  out->path = base.path;
  AppendFolded(&out->path, out->parts);
  return ERROR_SUCCESS;
}

// ParseSubKey, then the id of the existing key the path names (base's own
// key, unchecked, for an empty path). ERROR_FILE_NOT_FOUND also for a name
// too long for any key.
LONG FindSubKey(State& s, const Handle& base, const char* sub, SubKeyPath* out, KeyId* id) {
  LONG rc = ParseSubKey(s, base, sub, out);
  if (rc != ERROR_SUCCESS) return rc;
  *id = base.key;
  for (std::string_view p : out->parts)
    if (p.size() > kMaxKeyNameLen) return ERROR_FILE_NOT_FOUND;  // no such key can exist
  if (out->parts.empty()) return ERROR_SUCCESS;
  return s.store->FindKey(out->path, base.root ? 0 : base.key, id);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies a value into a caller's buffer with RegQueryValueExA's rules:
// ERROR_MORE_DATA and the size needed when it does not fit; a string without
// its terminator gets one when there is room, not counted in the size.
LONG CopyData(DWORD type, const BYTE* data, size_t size, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpType) *lpType = type;
  if (lpData == nullptr) {
    if (lpcbData) *lpcbData = static_cast<DWORD>(size);
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = static_cast<DWORD>(size);
    return ERROR_MORE_DATA;
  }
  if (size) std::memcpy(lpData, data, size);
  if (IsStringType(type) && size > 0 && data[size - 1] != 0 && *lpcbData > size) lpData[size] = 0;
  *lpcbData = static_cast<DWORD>(size);
  return ERROR_SUCCESS;
}

struct QueryCtx {
  LPDWORD lpType;
  LPBYTE lpData;
  LPDWORD lpcbData;
  LONG rc;
};

void QuerySink(void* ctx, DWORD type, const BYTE* data, size_t size) {
  QueryCtx* q = static_cast<QueryCtx*>(ctx);
  q->rc = CopyData(type, data, size, q->lpType, q->lpData, q->lpcbData);
}

// Copies a name into a caller's buffer of *cch characters; ERROR_MORE_DATA,
// nothing copied and *cch unchanged when it does not fit with its
// terminator.
LONG CopyName(const std::string& name, LPSTR buf, LPDWORD cch) {
  if (name.size() + 1 > *cch) return ERROR_MORE_DATA;
  std::memcpy(buf, name.data(), name.size());
  buf[name.size()] = 0;
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

void ToFileTime(int64_t ticks, PFILETIME ft) {
  ft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xffffffffu);
  ft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

// Fetches rows of an enumeration into b: the first rows after `after`, or
// (after null) from row `offset` on.
LONG FetchRows(State& s, const Handle& h, EnumBatch<KeyRow>& b, const KeyRow* after, int64_t offset) {
  return s.store->ListSubKeys(h.key, after ? std::string_view(after->fold) : std::string_view(), offset,
                              kEnumBatchRows, &b.rows, &b.more);
}

LONG FetchRows(State& s, const Handle& h, EnumBatch<ValueRow>& b, const ValueRow* after, int64_t offset) {
  return s.store->ListValues(h.key, after ? after->id : 0, offset, kEnumBatchRows, kEnumBatchBytes, &b.rows,
                             &b.more);
}

// Row `index` of an enumeration of h's key, from the batch b. Sequential
// indexes continue after the last row fetched (one index seek per batch);
// index 0, any jump and any write of this process since make a fresh fetch,
// so a new enumeration sees the key as it is now. Past the last row:
// ERROR_NO_MORE_ITEMS, or ERROR_KEY_DELETED when h's key is gone.
template <class Row>
LONG LoadRow(State& s, const Handle& h, EnumBatch<Row>& b, DWORD index, const Row** row) {
  const bool fresh = b.valid && b.generation == s.generation && index != 0;
  LONG rc = ERROR_SUCCESS;
  if (!fresh || index < b.start || index - b.start >= b.rows.size()) {
    b.valid = false;  // until the fetch is complete (it may also throw)
    if (fresh && !b.rows.empty() && index == b.start + b.rows.size()) {
      rc = b.more ? FetchRows(s, h, b, &b.rows.back(), -1) : static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    } else {
      rc = FetchRows(s, h, b, nullptr, static_cast<int64_t>(index));
    }
    if (rc == ERROR_SUCCESS) {
      b.valid = true;
      b.generation = s.generation;
      b.start = index;
    }
  }
  if (rc == ERROR_SUCCESS && index - b.start >= b.rows.size()) rc = ERROR_NO_MORE_ITEMS;
  if (rc == ERROR_NO_MORE_ITEMS && !h.root) {
    LONG alive = s.store->CheckKey(h.key);
    if (alive != ERROR_SUCCESS) rc = alive;
  }
  if (rc == ERROR_SUCCESS) *row = &b.rows[index - b.start];
  return rc;
}

// The frame of the enumerations: WithKey, then fn(row) for row `index` of
// the enumeration `batch` of the key.
template <class Row, class Fn>
LONG WithRow(HKEY hKey, REGSAM needed, EnumBatch<Row> Handle::*batch, DWORD index, Fn fn) {
  return WithKey(hKey, needed, [&](State& s, Handle& h) -> LONG {
    const Row* row = nullptr;
    LONG rc = LoadRow(s, h, h.*batch, index, &row);
    return rc != ERROR_SUCCESS ? rc : fn(*row);
  });
}

}  // namespace

extern "C" {

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  return Guarded([&]() -> LONG {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpMachineName != nullptr && *lpMachineName != 0) {
      std::string_view m(lpMachineName);
      if (m.size() >= 2 && m[0] == '\\' && m[1] == '\\') m.remove_prefix(2);
      char host[256] = {};
      if (::gethostname(host, sizeof host - 1) != 0) host[0] = 0;
      std::string_view full(host);
      std::string_view shortName = full.substr(0, full.find('.'));
      auto same = [&](std::string_view a, std::string_view b) {
        return !a.empty() && sundry::platform::AnsiCompareNoCase(a.data(), a.size(), b.data(), b.size()) == 0;
      };
      if (!(m == "." || same(m, "localhost") || same(full, m) || same(shortName, m))) return ERROR_BAD_NETPATH;
    }
    int root = PredefinedRoot(hKey);
    if (root < 0) return ERROR_INVALID_HANDLE;
    State& s = S();
    ApiLock lock(s);
    LONG rc = EnsureStore(s);
    if (rc != ERROR_SUCCESS) return rc;
    const Handle& r = s.roots[root];
    *phkResult = NewHandle(s, r.key, r.path, KEY_ALL_ACCESS);
    s.handles[reinterpret_cast<uintptr_t>(*phkResult)]->root = true;
    return ERROR_SUCCESS;
  });
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return WithKey(hKey, 0, [&](State& s, Handle& base) -> LONG {
    // Windows hands back a predefined root itself; any other handle gets a
    // new handle to the same key.
    if ((lpSubKey == nullptr || *lpSubKey == 0) && base.predefined) {
      *phkResult = hKey;
      return ERROR_SUCCESS;
    }
    SubKeyPath sub;
    KeyId id = 0;
    LONG rc = FindSubKey(s, base, lpSubKey, &sub, &id);
    if (rc == ERROR_SUCCESS && sub.parts.empty() && !base.root) rc = s.store->CheckKey(base.key);
    if (rc != ERROR_SUCCESS) return rc;
    *phkResult = NewHandle(s, id, std::move(sub.path), samDesired);
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                     const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  // Volatile keys and symbolic links have no counterpart in the store.
  if (dwOptions & ~(REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK)) return ERROR_NOT_SUPPORTED;
  // Creating needs no access right on the parent handle: Windows checks the
  // key's security, not the handle's mask.
  return WithKey(hKey, 0, [&](State& s, Handle& base) -> LONG {
    SubKeyPath sub;
    LONG rc = ParseSubKey(s, base, lpSubKey, &sub);
    if (rc == ERROR_SUCCESS) rc = CheckNewKeyNames(base.path, sub.parts);
    if (rc != ERROR_SUCCESS) return rc;
    KeyId id = base.key;
    bool created = false;
    if (sub.parts.empty()) {
      if (!base.root) rc = s.store->CheckKey(base.key);
    } else {
      rc = s.store->FindKey(sub.path, base.root ? 0 : base.key, &id);
      if (rc == ERROR_FILE_NOT_FOUND)
        rc = Wrote(s, s.store->CreateKey(base.key, base.path, sub.parts,
                                         lpClass ? std::string_view(lpClass) : std::string_view(), &id, &sub.path,
                                         &created));
    }
    if (rc != ERROR_SUCCESS) return rc;
    *phkResult = NewHandle(s, id, std::move(sub.path), samDesired);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY hKey) {
  return Guarded([&]() -> LONG {
    if (hKey == nullptr) return ERROR_INVALID_HANDLE;
    State& s = S();
    ApiLock lock(s);
    if (s.handles.erase(reinterpret_cast<uintptr_t>(hKey)) == 1) return ERROR_SUCCESS;
    return IsPredefinedValue(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  return WithKey(hKey, KEY_QUERY_VALUE, [&](State& s, Handle& h) -> LONG {
    regstore::Fold(lpValueName ? lpValueName : "", &s.scratch);
    QueryCtx q{lpType, lpData, lpcbData, ERROR_SUCCESS};
    LONG rc = s.store->GetValue(h.key, s.scratch, QuerySink, &q);
    if (rc == ERROR_FILE_NOT_FOUND && lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
    return rc != ERROR_SUCCESS ? rc : q.rc;
  });
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  const std::string_view name(lpValueName ? lpValueName : "");
  if (CheckValueName(name) != ERROR_SUCCESS) return ERROR_INVALID_PARAMETER;
  // Exactly cbData bytes are stored. Windows also keeps a terminator that
  // happens to follow a string's given size, but finding it means reading
  // past the caller's buffer, so the store never looks there; a string
  // stored without its terminator gets one on reading when there is room.
  return WithKey(hKey, KEY_SET_VALUE, [&](State& s, Handle& h) -> LONG {
    regstore::Fold(name, &s.scratch);
    return Wrote(s, s.store->SetValue(h.key, name, s.scratch, dwType, lpData, cbData));
  });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return WithKey(hKey, KEY_SET_VALUE, [&](State& s, Handle& h) -> LONG {
    regstore::Fold(lpValueName ? lpValueName : "", &s.scratch);
    return Wrote(s, s.store->DeleteValue(h.key, s.scratch));
  });
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  // Like creation, deletion is checked against the key, not the handle's
  // mask. Roots and keys with sub-keys cannot be deleted.
  return WithKey(hKey, 0, [&](State& s, Handle& base) -> LONG {
    SubKeyPath sub;
    KeyId id = 0;
    LONG rc = FindSubKey(s, base, lpSubKey, &sub, &id);
    if (rc != ERROR_SUCCESS) return rc;
    return Wrote(s, s.store->DeleteKey(id));
  });
}

LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return WithKey(hKey, 0, [&](State& s, Handle& base) -> LONG {
    SubKeyPath sub;
    KeyId id = 0;
    LONG rc = FindSubKey(s, base, lpSubKey, &sub, &id);
    if (rc != ERROR_SUCCESS) return rc;
    const bool keepTop = sub.parts.empty();
    // Emptying hKey's own key goes by the handle's rights, as on Windows.
    constexpr REGSAM kNeeded = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
    if (keepTop && (base.access & kNeeded) != kNeeded) return ERROR_ACCESS_DENIED;
    return Wrote(s, s.store->DeleteTree(id, keepTop, (base.access & KEY_SET_VALUE) != 0));
  });
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
      (lpClass != nullptr && lpcchClass == nullptr))
    return ERROR_INVALID_PARAMETER;
  return WithRow(hKey, KEY_ENUMERATE_SUB_KEYS, &Handle::subKeys, dwIndex, [&](const KeyRow& k) -> LONG {
    if (k.name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
    if (lpClass != nullptr && k.cls.size() + 1 > *lpcchClass) return ERROR_MORE_DATA;
    CopyName(k.name, lpName, lpcchName);
    if (lpClass != nullptr) CopyName(k.cls, lpClass, lpcchClass);
    else if (lpcchClass != nullptr) *lpcchClass = static_cast<DWORD>(k.cls.size());
    if (lpftLastWriteTime) ToFileTime(k.mtime, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
      (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  return WithRow(hKey, KEY_QUERY_VALUE, &Handle::values, dwIndex, [&](const ValueRow& v) -> LONG {
    // A name that does not fit leaves both buffers untouched but still
    // reports the type and the data size.
    if (v.name.size() + 1 > *lpcchValueName) {
      if (lpType) *lpType = v.type;
      if (lpcbData) *lpcbData = static_cast<DWORD>(v.data.size());
      return ERROR_MORE_DATA;
    }
    LONG rc =
        CopyData(v.type, reinterpret_cast<const BYTE*>(v.data.data()), v.data.size(), lpType, lpData, lpcbData);
    if (rc == ERROR_SUCCESS) CopyName(v.name, lpValueName, lpcchValueName);
    return rc;
  });
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                      PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) return ERROR_INVALID_PARAMETER;
  return WithKey(hKey, KEY_QUERY_VALUE, [&](State& s, Handle& h) -> LONG {
    KeyInfo info;
    LONG rc = s.store->QueryInfo(h.key, &info);
    if (rc != ERROR_SUCCESS) return rc;
    if (lpcSubKeys) *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyLen;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = info.maxClassLen;
    if (lpcValues) *lpcValues = info.values;
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameLen;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueLen;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) ToFileTime(info.mtime, lpftLastWriteTime);
    if (lpClass == nullptr) {
      if (lpcchClass != nullptr) *lpcchClass = static_cast<DWORD>(info.cls.size());
      return ERROR_SUCCESS;
    }
    // The class is cut to the buffer (always terminated) and the length
    // stored is what was copied; a buffer of 0 characters is left alone.
    if (*lpcchClass == 0) return ERROR_SUCCESS;
    size_t n = info.cls.size();
    if (n + 1 > *lpcchClass) {
      n = *lpcchClass - 1;
      rc = ERROR_MORE_DATA;
    }
    std::memcpy(lpClass, info.cls.data(), n);
    lpClass[n] = 0;
    *lpcchClass = static_cast<DWORD>(n);
    return rc;
  });
}

}  // extern "C"

namespace sundry::platform {

LONG RegistryCheckKeyPath(HKEY root, const char* subKey) {
  try {
    int r = PredefinedRoot(root);
    if (r < 0 || !IsPredefinedValue(root)) return ERROR_INVALID_HANDLE;
    std::vector<std::string_view> parts;
    LONG rc = SplitPath(subKey, r == regstore::kClassesRoot, &parts);
    if (rc != ERROR_SUCCESS) return rc;
    return CheckNewKeyNames(regstore::kRootPaths[r], parts);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LONG RegistryCheckValueName(const char* name) { return CheckValueName(name ? name : ""); }

LONG RegistryBeginTransaction() {
  try {
    State& s = S();
    ApiLock lock(s);
    LONG rc = EnsureStore(s);
    if (rc != ERROR_SUCCESS) return rc;
    if ((rc = s.store->BeginTransaction()) != ERROR_SUCCESS) return rc;
    s.transactionOwner = std::this_thread::get_id();
    ++s.transactionDepth;
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

namespace {

LONG EndTransaction(bool commit) {
  State& s = S();
  ApiLock lock(s);
  // ApiLock let this thread through, so a transaction open now is its own.
  if (s.transactionDepth == 0 || !s.store) return ERROR_INVALID_FUNCTION;
  LONG rc = s.store->EndTransaction(commit);
  --s.transactionDepth;
  ++s.generation;
  if (!commit || rc != ERROR_SUCCESS) {
    try {
      RetireHandlesOfVanishedKeys(s);
    } catch (...) {
    }
  }
  if (s.transactionDepth == 0) {
    s.transactionOwner = std::thread::id();
    s.transactionEnded.notify_all();
  }
  return rc;
}

}  // namespace

LONG RegistryCommitTransaction() { return EndTransaction(true); }

LONG RegistryRollbackTransaction() { return EndTransaction(false); }

LONG RegistryUseStore(const char* path) {
  return Guarded([&]() -> LONG {
    std::string chosen = path ? path : "";
    State& s = S();
    ApiLock lock(s);
    // Handles and a transaction of this thread belong to the store in use.
    if (!s.handles.empty() || s.transactionDepth > 0) return ERROR_BUSY;
    s.chosenPath.swap(chosen);
    CloseStore(s);
    return ERROR_SUCCESS;
  });
}

const char* RegistryStorePath() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  if (!s.store) s.path = StorePath(s);
  return s.path.c_str();
}

DWORD RegistryOpenHandleCount() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return static_cast<DWORD>(s.handles.size());
}

void RegistrySetNextHandleForTesting(uintptr_t value) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.nextHandle = value < kFirstHandle || value > kLastHandle ? kFirstHandle : value & ~uintptr_t(3);
}

void RegistryResetForTesting() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.handles.clear();
  s.chosenPath.clear();
  CloseStore(s);
  s.transactionDepth = 0;
  s.transactionOwner = std::thread::id();
  s.transactionEnded.notify_all();
}

}  // namespace sundry::platform

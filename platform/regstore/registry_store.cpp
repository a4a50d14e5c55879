// The SQLite database behind the registry functions.

#include "platform/regstore/registry_store.h"

#include "platform/framework/coding.h"
#include "platform/posix/fd.h"
#include "platform/posix/fileio.h"
#include "platform/posix/files.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace sundry::platform::regstore {

const char* const kRootPaths[kRootCount] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS",
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES",
};

namespace {

// "SDRY" in the header's application id field marks a registry store.
constexpr uint32_t kApplicationId = 0x53445259u;
constexpr uint32_t kSchemaVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name BLOB NOT NULL,"
    " fold BLOB NOT NULL,"
    " path BLOB NOT NULL UNIQUE,"
    " class BLOB NOT NULL,"
    " mtime INTEGER NOT NULL,"
    " system INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX keys_children ON keys(parent, fold);"
    "CREATE TABLE vals("
    " key INTEGER NOT NULL,"
    " id INTEGER NOT NULL,"
    " name BLOB NOT NULL,"
    " fold BLOB NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, id)) WITHOUT ROWID;"
    "CREATE UNIQUE INDEX vals_name ON vals(key, fold);";

constexpr const char* kStatements[] = {
    /* kBegin */ "BEGIN IMMEDIATE",
    /* kCommit */ "COMMIT",
    /* kRollback */ "ROLLBACK",
    /* kSavepoint */ "SAVEPOINT level",
    /* kRelease */ "RELEASE level",
    /* kRollbackTo */ "ROLLBACK TO level",
    /* kFindKey */ "SELECT id FROM keys WHERE path=?1",
    /* kFindKeyUnder */
    "SELECT (SELECT id FROM keys WHERE path=?1), EXISTS(SELECT 1 FROM keys WHERE id=?2)",
    /* kKeyExists */ "SELECT 1 FROM keys WHERE id=?1",
    /* kKeyDetail */ "SELECT parent, system, class, mtime FROM keys WHERE id=?1",
    /* kInsertKey */
    "INSERT INTO keys(parent, name, fold, path, class, mtime, system) VALUES(?1, ?2, ?3, ?4, ?5, ?6, 0)",
    /* kTouchKey */ "UPDATE keys SET mtime=?2 WHERE id=?1",
    /* kHasChildren */ "SELECT EXISTS(SELECT 1 FROM keys WHERE parent=?1)",
    /* kDeleteKeyValues */ "DELETE FROM vals WHERE key=?1",
    /* kDeleteKey */ "DELETE FROM keys WHERE id=?1",
    // The descendants of the key with path P are the keys whose path p has
    // P + "\" <= p < P + "]": '\' and ']' are neighbouring bytes, so the
    // range holds exactly the paths that begin with P + "\", and the unique
    // index on path finds it with one seek.
    /* kKeyPath */ "SELECT parent, system, path FROM keys WHERE id=?1",
    /* kTreeHasSystem */ "SELECT EXISTS(SELECT 1 FROM keys WHERE path>=?1 AND path<?2 AND system!=0)",
    /* kHasValues */ "SELECT EXISTS(SELECT 1 FROM vals WHERE key=?1)",
    /* kDeleteTreeValues */ "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE path>=?1 AND path<?2)",
    /* kDeleteTreeKeys */ "DELETE FROM keys WHERE path>=?1 AND path<?2",
    /* kGetValue */ "SELECT type, data FROM vals WHERE key=?1 AND fold=?2",
    /* kUpsertValue */
    "INSERT INTO vals(key, id, name, fold, type, data) "
    "VALUES(?1, (SELECT coalesce(max(id), 0) + 1 FROM vals WHERE key=?1), ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data",
    /* kDeleteValue */ "DELETE FROM vals WHERE key=?1 AND fold=?2",
    /* kValuesAfter */
    "SELECT id, name, type, data FROM vals WHERE key=?1 AND id>?2 ORDER BY id LIMIT ?3",
    /* kValuesFrom */ "SELECT id, name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT ?3 OFFSET ?2",
    /* kKeysAfter */
    "SELECT fold, name, class, mtime FROM keys WHERE parent=?1 AND fold>?2 ORDER BY fold LIMIT ?3",
    /* kKeysFrom */
    "SELECT fold, name, class, mtime FROM keys WHERE parent=?1 ORDER BY fold LIMIT ?3 OFFSET ?2",
    /* kSubKeyStats */
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(class)), 0) "
    "FROM keys WHERE parent=?1",
    /* kValueStats */
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) "
    "FROM vals WHERE key=?1",
};

// Maps an SQLite result to the registry's codes: a file that is not a store
// is ERROR_BADDB, a damaged store ERROR_REGISTRY_CORRUPT, and every failure
// to read or write it ERROR_REGISTRY_IO_FAILED.
LONG MapSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOTADB:
    case SQLITE_ERROR:
    case SQLITE_SCHEMA:
      return ERROR_BADDB;
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Waits for another connection's write lock instead of failing: short
// sleeps first, then 2 ms steps, for about a minute in all. Only a process
// that holds the lock for longer than that makes a call fail (ERROR_BUSY).
int BusyHandler(void*, int count) {
  static const long kDelaysUs[] = {20, 50, 100, 200, 500, 1000};
  constexpr int kSteps = sizeof(kDelaysUs) / sizeof(kDelaysUs[0]);
  if (count > 30000) return 0;
  long us = count < kSteps ? kDelaysUs[count] : 2000;
  struct timespec ts = {0, us * 1000};
  posix::RetryOnEintr([&] { return nanosleep(&ts, &ts); });
  return 1;
}

int BindBytes(sqlite3_stmt* st, int i, std::string_view s) {
  if (s.empty()) return sqlite3_bind_zeroblob(st, i, 0);
  return sqlite3_bind_blob(st, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
}

std::string ColumnBytes(sqlite3_stmt* st, int i) {
  const void* p = sqlite3_column_blob(st, i);
  int n = sqlite3_column_bytes(st, i);
  if (p == nullptr || n <= 0) return std::string();
  return std::string(static_cast<const char*>(p), static_cast<size_t>(n));
}

// Runs a statement that returns no rows and resets it.
int Run(sqlite3_stmt* st) {
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// Resets a statement when the scope ends, whatever the path.
struct Resetter {
  sqlite3_stmt* st;
  ~Resetter() {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
  }
};

// Reads the 100-byte SQLite header without SQLite, so that a file that is
// not a registry store is refused before anything could write to it. The
// header's numbers are big-endian.
LONG CheckHeader(const std::string& path) {
  const posix::UniqueFd fd = posix::OpenRegularFile(path, O_RDONLY);
  if (!fd) return ERROR_REGISTRY_IO_FAILED;
  unsigned char h[100];
  const ssize_t got = posix::ReadFull(fd.get(), h, sizeof h, 0);
  if (got < 0) return ERROR_REGISTRY_IO_FAILED;
  if (static_cast<size_t>(got) < sizeof h) return ERROR_BADDB;
  if (std::memcmp(h, "SQLite format 3", 16) != 0) return ERROR_BADDB;
  if (DecodeBigEndian32(h + 68) != kApplicationId) return ERROR_BADDB;
  if (DecodeBigEndian32(h + 60) != kSchemaVersion) return ERROR_BADDB;
  return ERROR_SUCCESS;
}

// Builds a fresh store in db: schema, marks and the keys that always exist.
int InitSchema(sqlite3* db) {
  char pragmas[200];
  std::snprintf(pragmas, sizeof pragmas,
                "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA application_id=%d; "
                "PRAGMA user_version=%u;",
                static_cast<int>(kApplicationId), kSchemaVersion);
  int rc = sqlite3_exec(db, pragmas, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  if ((rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr)) != SQLITE_OK) return rc;
  rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  if (rc == SQLITE_OK)
    rc = sqlite3_prepare_v2(db,
                            "INSERT INTO keys(parent, name, fold, path, class, mtime, system) "
                            "VALUES(?1, ?2, ?3, ?4, x'', ?5, 1)",
                            -1, &ins, nullptr);
  const int64_t now = NowFileTime();
  auto add = [&](int64_t parent, const char* name, const std::string& path) -> int64_t {
    if (rc != SQLITE_OK) return 0;
    std::string fold;
    Fold(name, &fold);
    sqlite3_bind_int64(ins, 1, parent);
    BindBytes(ins, 2, name);
    BindBytes(ins, 3, fold);
    BindBytes(ins, 4, path);
    sqlite3_bind_int64(ins, 5, now);
    rc = Run(ins);
    return sqlite3_last_insert_rowid(db);
  };
  int64_t hklm = add(0, "HKEY_LOCAL_MACHINE", kRootPaths[kLocalMachine]);
  add(0, "HKEY_CURRENT_USER", kRootPaths[kCurrentUser]);
  add(0, "HKEY_USERS", kRootPaths[kUsers]);
  add(0, "HKEY_CURRENT_CONFIG", kRootPaths[kCurrentConfig]);
  add(0, "HKEY_DYN_DATA", kRootPaths[kDynData]);
  int64_t software = add(hklm, "SOFTWARE", std::string(kRootPaths[kLocalMachine]) + "\\SOFTWARE");
  add(software, "Classes", kRootPaths[kClassesRoot]);
  sqlite3_finalize(ins);
  if (rc != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
  }
  if ((rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr)) != SQLITE_OK) return rc;
  return sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

// Builds a fresh store in memory and returns its file image (to be freed
// with sqlite3_free), or null.
unsigned char* BuildStoreImage(sqlite3_int64* size) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) rc = InitSchema(db);
  unsigned char* image = rc == SQLITE_OK ? sqlite3_serialize(db, "main", size, 0) : nullptr;
  sqlite3_close(db);
  if (image != nullptr && *size < 100) {
    sqlite3_free(image);
    return nullptr;
  }
  // The store runs in WAL mode, which a file records in the format
  // versions of its header (2 for WAL, as SQLite writes them when it
  // switches a file to WAL); a database in memory cannot be in WAL mode.
  if (image != nullptr) image[18] = image[19] = 2;
  return image;
}

// Creates the store file: it is built complete in memory and put at path by
// the durable placement of the POSIX port (written beside, committed,
// moved into place where no file is, the directory committed), which never
// replaces a file that another process created meanwhile. So no process
// ever sees a half-made store. The thread's last error is left as it was.
LONG CreateStoreFile(const std::string& path) {
  const DWORD savedError = GetLastError();
  LONG result = ERROR_REGISTRY_IO_FAILED;
  sqlite3_int64 size = 0;
  if (!posix::MakeDirectories(posix::DirName(path), 0700)) return result;
  unsigned char* image = BuildStoreImage(&size);
  if (image == nullptr) return result;
  try {
    posix::Placement how;
    how.replace = false;
    how.createMode = 0600;
    how.keepMode = false;
    auto fill = [&](int fd, const std::string& name) {
      return posix::WriteAll(fd, image, static_cast<size_t>(size), 0, name) == static_cast<size_t>(size);
    };
    DWORD commitError;
    if (posix::PutFileInPlace(path, how, fill, nullptr, &commitError))
      result = commitError == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    else if (GetLastError() == ERROR_FILE_EXISTS)
      result = ERROR_SUCCESS;  // made by another process meanwhile
  } catch (const std::bad_alloc&) {
    result = ERROR_NOT_ENOUGH_MEMORY;
  }
  sqlite3_free(image);
  SetLastError(savedError);
  return result;
}

}  // namespace

void Fold(std::string_view name, std::string* out) {
  out->resize(name.size());
  for (size_t i = 0; i < name.size(); ++i)
    (*out)[i] = static_cast<char>(AnsiToUpper(static_cast<unsigned char>(name[i])));
}

int64_t NowFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  constexpr int64_t kEpochDiff = 11644473600LL;  // seconds from 1601 to 1970
  return (static_cast<int64_t>(ts.tv_sec) + kEpochDiff) * 10000000LL + ts.tv_nsec / 100;
}

// A write transaction: BEGIN IMMEDIATE (so that the write lock is taken,
// waiting through the busy handler, before anything is read), or a savepoint
// inside a transaction that is already open. Rolled back unless committed.
class Store::Txn {
 public:
  explicit Txn(Store* s) : m_s(s) {}
  ~Txn() {
    if (m_open) m_s->EndTransaction(false);
  }
  LONG Begin() {
    LONG rc = m_s->BeginTransaction();
    m_open = rc == ERROR_SUCCESS;
    return rc;
  }
  LONG Commit() {
    m_open = false;
    return m_s->EndTransaction(true);
  }

 private:
  Store* m_s;
  bool m_open = false;
};

LONG Store::Open(const std::string& path, std::unique_ptr<Store>* out) {
  out->reset();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return ERROR_REGISTRY_IO_FAILED;
    LONG rc = CreateStoreFile(path);
    if (rc != ERROR_SUCCESS) return rc;
  } else if (!S_ISREG(st.st_mode)) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  LONG rc = CheckHeader(path);
  if (rc != ERROR_SUCCESS) return rc;

  sqlite3* db = nullptr;
  int src = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (src != SQLITE_OK) {
    sqlite3_close(db);
    return (src & 0xff) == SQLITE_CANTOPEN ? static_cast<LONG>(ERROR_REGISTRY_IO_FAILED) : MapSqlite(src);
  }
  std::unique_ptr<Store> store(new Store(db));
  sqlite3_busy_handler(db, BusyHandler, nullptr);
  sqlite3_extended_result_codes(db, 1);
  src = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (src != SQLITE_OK) return MapSqlite(src);
  rc = store->Prepare();
  if (rc != ERROR_SUCCESS) return rc;
  rc = store->LoadRoots();
  if (rc != ERROR_SUCCESS) return rc;
  *out = std::move(store);
  return ERROR_SUCCESS;
}

Store::~Store() {
  for (sqlite3_stmt*& st : m_stmts) {
    sqlite3_finalize(st);
    st = nullptr;
  }
  sqlite3_close(m_db);
}

LONG Store::Prepare() {
  static_assert(sizeof(kStatements) / sizeof(kStatements[0]) == kStmtCount, "one text per statement");
  for (int i = 0; i < kStmtCount; ++i) {
    int rc = sqlite3_prepare_v3(m_db, kStatements[i], -1, SQLITE_PREPARE_PERSISTENT, &m_stmts[i], nullptr);
    if (rc != SQLITE_OK) return MapSqlite(rc);
  }
  return ERROR_SUCCESS;
}

LONG Store::LoadRoots() {
  for (int r = 0; r < kRootCount; ++r) {
    LONG rc = FindKey(kRootPaths[r], 0, &m_roots[r]);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_REGISTRY_CORRUPT;
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

sqlite3_stmt* Store::Stmt(enum Stmt s) { return m_stmts[s]; }

LONG Store::FindKey(std::string_view path, KeyId base, KeyId* id) {
  sqlite3_stmt* st = Stmt(base != 0 ? kFindKeyUnder : kFindKey);
  Resetter r{st};
  BindBytes(st, 1, path);
  if (base != 0) sqlite3_bind_int64(st, 2, base);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return MapSqlite(rc);
  if (base != 0 && sqlite3_column_int(st, 1) == 0) return ERROR_KEY_DELETED;
  if (sqlite3_column_type(st, 0) == SQLITE_NULL) return ERROR_FILE_NOT_FOUND;
  *id = sqlite3_column_int64(st, 0);
  return ERROR_SUCCESS;
}

LONG Store::CheckKey(KeyId id) {
  sqlite3_stmt* st = Stmt(kKeyExists);
  Resetter r{st};
  sqlite3_bind_int64(st, 1, id);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return MapSqlite(rc);
}

LONG Store::Touch(KeyId id, int64_t now) {
  sqlite3_stmt* st = Stmt(kTouchKey);
  Resetter r{st};
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int64(st, 2, now);
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) return MapSqlite(rc);
  return sqlite3_changes(m_db) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG Store::CreateKey(KeyId parent, const std::string& parentPath, const std::vector<std::string_view>& names,
                      std::string_view cls, KeyId* id, std::string* path, bool* created) {
  *created = false;
  Txn txn(this);
  LONG rc = txn.Begin();
  if (rc != ERROR_SUCCESS) return rc;
  if ((rc = CheckKey(parent)) != ERROR_SUCCESS) return rc;
  const int64_t now = NowFileTime();
  std::string p = parentPath;
  std::string fold;
  KeyId cur = parent;
  for (size_t i = 0; i < names.size(); ++i) {
    Fold(names[i], &fold);
    p += '\\';
    p += fold;
    KeyId found = 0;
    rc = FindKey(p, 0, &found);
    if (rc == ERROR_SUCCESS) {
      cur = found;
      continue;
    }
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    sqlite3_stmt* st = Stmt(kInsertKey);
    {
      Resetter r{st};
      sqlite3_bind_int64(st, 1, cur);
      BindBytes(st, 2, names[i]);
      BindBytes(st, 3, fold);
      BindBytes(st, 4, p);
      BindBytes(st, 5, i + 1 == names.size() ? cls : std::string_view());
      sqlite3_bind_int64(st, 6, now);
      int src = sqlite3_step(st);
      if (src != SQLITE_DONE) return MapSqlite(src);
    }
    if ((rc = Touch(cur, now)) != ERROR_SUCCESS) return rc;
    cur = sqlite3_last_insert_rowid(m_db);
    if (i + 1 == names.size()) *created = true;
  }
  if ((rc = txn.Commit()) != ERROR_SUCCESS) {
    *created = false;
    return rc;
  }
  *id = cur;
  *path = std::move(p);
  return ERROR_SUCCESS;
}

LONG Store::DeleteKey(KeyId id) {
  Txn txn(this);
  LONG rc = txn.Begin();
  if (rc != ERROR_SUCCESS) return rc;
  KeyId parent = 0;
  {
    sqlite3_stmt* st = Stmt(kKeyDetail);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, id);
    int src = sqlite3_step(st);
    if (src == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (src != SQLITE_ROW) return MapSqlite(src);
    if (sqlite3_column_int(st, 1) != 0) return ERROR_ACCESS_DENIED;
    parent = sqlite3_column_int64(st, 0);
  }
  {
    sqlite3_stmt* st = Stmt(kHasChildren);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, id);
    int src = sqlite3_step(st);
    if (src != SQLITE_ROW) return MapSqlite(src);
    if (sqlite3_column_int(st, 0) != 0) return ERROR_ACCESS_DENIED;
  }
  for (enum Stmt s : {kDeleteKeyValues, kDeleteKey}) {
    sqlite3_stmt* st = Stmt(s);
    sqlite3_bind_int64(st, 1, id);
    int src = Run(st);
    sqlite3_clear_bindings(st);
    if (src != SQLITE_OK) return MapSqlite(src);
  }
  if ((rc = Touch(parent, NowFileTime())) != ERROR_SUCCESS && rc != ERROR_KEY_DELETED) return rc;
  return txn.Commit();
}

LONG Store::DeleteTree(KeyId id, bool keepTop, bool topValues) {
  Txn txn(this);
  LONG rc = txn.Begin();
  if (rc != ERROR_SUCCESS) return rc;
  KeyId parent = 0;
  std::string low, high;
  {
    sqlite3_stmt* st = Stmt(kKeyPath);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, id);
    int src = sqlite3_step(st);
    if (src == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (src != SQLITE_ROW) return MapSqlite(src);
    if (!keepTop && sqlite3_column_int(st, 1) != 0) return ERROR_ACCESS_DENIED;
    parent = sqlite3_column_int64(st, 0);
    low = ColumnBytes(st, 2);
  }
  high = low + ']';
  low += '\\';
  // Every check comes before the first change, so a refusal changes nothing.
  auto exists = [&](enum Stmt s, bool range, int* found) -> LONG {
    sqlite3_stmt* st = Stmt(s);
    Resetter r{st};
    if (range) {
      BindBytes(st, 1, low);
      BindBytes(st, 2, high);
    } else {
      sqlite3_bind_int64(st, 1, id);
    }
    int src = sqlite3_step(st);
    if (src != SQLITE_ROW) return MapSqlite(src);
    *found = sqlite3_column_int(st, 0);
    return ERROR_SUCCESS;
  };
  int found = 0;
  if ((rc = exists(kTreeHasSystem, true, &found)) != ERROR_SUCCESS) return rc;
  if (found) return ERROR_ACCESS_DENIED;
  if (keepTop && !topValues) {
    if ((rc = exists(kHasValues, false, &found)) != ERROR_SUCCESS) return rc;
    if (found) return ERROR_ACCESS_DENIED;
  }
  int changes = 0;
  for (enum Stmt s : {kDeleteTreeValues, kDeleteTreeKeys}) {
    sqlite3_stmt* st = Stmt(s);
    Resetter r{st};
    BindBytes(st, 1, low);
    BindBytes(st, 2, high);
    int src = sqlite3_step(st);
    if (src != SQLITE_DONE) return MapSqlite(src);
    changes += sqlite3_changes(m_db);
  }
  for (enum Stmt s : {kDeleteKeyValues, kDeleteKey}) {
    if (s == kDeleteKey && keepTop) break;
    sqlite3_stmt* st = Stmt(s);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, id);
    int src = sqlite3_step(st);
    if (src != SQLITE_DONE) return MapSqlite(src);
    changes += sqlite3_changes(m_db);
  }
  if (changes > 0 && (rc = Touch(keepTop ? id : parent, NowFileTime())) != ERROR_SUCCESS && rc != ERROR_KEY_DELETED)
    return rc;
  return txn.Commit();
}

LONG Store::BeginTransaction() {
  if (m_depth > 0 && (m_lost || sqlite3_get_autocommit(m_db))) {
    m_lost = true;
    return ERROR_REGISTRY_IO_FAILED;
  }
  int rc = Run(Stmt(m_depth == 0 ? kBegin : kSavepoint));
  if (rc != SQLITE_OK) return MapSqlite(rc);
  ++m_depth;
  return ERROR_SUCCESS;
}

LONG Store::EndTransaction(bool commit) {
  if (m_depth == 0) return ERROR_INVALID_FUNCTION;
  // SQLite ends the whole transaction by itself after some failures (an
  // I/O error, a full disk): then every open level has lost its changes.
  if (sqlite3_get_autocommit(m_db)) m_lost = true;
  --m_depth;
  LONG result = ERROR_SUCCESS;
  if (m_lost) {
    if (commit) result = ERROR_REGISTRY_IO_FAILED;
  } else if (m_depth == 0) {
    int rc = Run(Stmt(commit ? kCommit : kRollback));
    if (rc != SQLITE_OK) {
      result = MapSqlite(rc);
      if (!sqlite3_get_autocommit(m_db)) Run(Stmt(kRollback));
    }
  } else {
    int rc = commit ? Run(Stmt(kRelease)) : Run(Stmt(kRollbackTo));
    if (rc == SQLITE_OK && !commit) rc = Run(Stmt(kRelease));
    if (rc != SQLITE_OK) result = MapSqlite(rc);
  }
  if (m_depth == 0) m_lost = false;
  return result;
}

LONG Store::GetValue(KeyId key, std::string_view fold, ValueSink sink, void* ctx) {
  {
    sqlite3_stmt* st = Stmt(kGetValue);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, key);
    BindBytes(st, 2, fold);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      DWORD type = static_cast<DWORD>(sqlite3_column_int64(st, 0));
      const void* p = sqlite3_column_blob(st, 1);
      int n = sqlite3_column_bytes(st, 1);
      sink(ctx, type, static_cast<const BYTE*>(p), p ? static_cast<size_t>(n) : 0);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return MapSqlite(rc);
  }
  LONG rc = CheckKey(key);
  return rc == ERROR_SUCCESS ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : rc;
}

LONG Store::SetValue(KeyId key, std::string_view name, std::string_view fold, DWORD type, const BYTE* data,
                     size_t size) {
  if (size > static_cast<size_t>(INT32_MAX)) return ERROR_NOT_ENOUGH_MEMORY;
  Txn txn(this);
  LONG rc = txn.Begin();
  if (rc != ERROR_SUCCESS) return rc;
  // Touching the key first also tells whether it still exists.
  if ((rc = Touch(key, NowFileTime())) != ERROR_SUCCESS) return rc;
  {
    sqlite3_stmt* st = Stmt(kUpsertValue);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, key);
    BindBytes(st, 2, name);
    BindBytes(st, 3, fold);
    sqlite3_bind_int64(st, 4, type);
    BindBytes(st, 5, std::string_view(reinterpret_cast<const char*>(data), data ? size : 0));
    int src = sqlite3_step(st);
    if (src != SQLITE_DONE) return MapSqlite(src);
  }
  return txn.Commit();
}

LONG Store::DeleteValue(KeyId key, std::string_view fold) {
  Txn txn(this);
  LONG rc = txn.Begin();
  if (rc != ERROR_SUCCESS) return rc;
  {
    sqlite3_stmt* st = Stmt(kDeleteValue);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, key);
    BindBytes(st, 2, fold);
    int src = sqlite3_step(st);
    if (src != SQLITE_DONE) return MapSqlite(src);
  }
  if (sqlite3_changes(m_db) == 0) {
    rc = CheckKey(key);
    return rc == ERROR_SUCCESS ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : rc;
  }
  if ((rc = Touch(key, NowFileTime())) != ERROR_SUCCESS) return rc;
  return txn.Commit();
}

LONG Store::ListValues(KeyId key, int64_t afterId, int64_t offset, size_t maxRows, size_t maxBytes,
                       std::vector<ValueRow>* rows, bool* more) {
  rows->clear();
  *more = false;
  sqlite3_stmt* st = Stmt(offset < 0 ? kValuesAfter : kValuesFrom);
  Resetter r{st};
  sqlite3_bind_int64(st, 1, key);
  sqlite3_bind_int64(st, 2, offset < 0 ? afterId : offset);
  sqlite3_bind_int64(st, 3, static_cast<int64_t>(maxRows));
  size_t bytes = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (!rows->empty() && bytes >= maxBytes) {
      *more = true;
      return ERROR_SUCCESS;
    }
    ValueRow v;
    v.id = sqlite3_column_int64(st, 0);
    v.name = ColumnBytes(st, 1);
    v.type = static_cast<DWORD>(sqlite3_column_int64(st, 2));
    v.data = ColumnBytes(st, 3);
    bytes += v.name.size() + v.data.size();
    rows->push_back(std::move(v));
  }
  if (rc != SQLITE_DONE) return MapSqlite(rc);
  *more = rows->size() == maxRows;
  return ERROR_SUCCESS;
}

LONG Store::ListSubKeys(KeyId parent, std::string_view afterFold, int64_t offset, size_t maxRows,
                        std::vector<KeyRow>* rows, bool* more) {
  rows->clear();
  *more = false;
  sqlite3_stmt* st = Stmt(offset < 0 ? kKeysAfter : kKeysFrom);
  Resetter r{st};
  sqlite3_bind_int64(st, 1, parent);
  if (offset < 0)
    BindBytes(st, 2, afterFold);
  else
    sqlite3_bind_int64(st, 2, offset);
  sqlite3_bind_int64(st, 3, static_cast<int64_t>(maxRows));
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    KeyRow k;
    k.fold = ColumnBytes(st, 0);
    k.name = ColumnBytes(st, 1);
    k.cls = ColumnBytes(st, 2);
    k.mtime = sqlite3_column_int64(st, 3);
    rows->push_back(std::move(k));
  }
  if (rc != SQLITE_DONE) return MapSqlite(rc);
  *more = rows->size() == maxRows;
  return ERROR_SUCCESS;
}

LONG Store::QueryInfo(KeyId key, KeyInfo* info) {
  {
    sqlite3_stmt* st = Stmt(kKeyDetail);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, key);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return MapSqlite(rc);
    info->cls = ColumnBytes(st, 2);
    info->mtime = sqlite3_column_int64(st, 3);
  }
  auto stats = [&](enum Stmt s, DWORD* count, DWORD* a, DWORD* b) -> LONG {
    sqlite3_stmt* st = Stmt(s);
    Resetter r{st};
    sqlite3_bind_int64(st, 1, key);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) return MapSqlite(rc);
    *count = static_cast<DWORD>(sqlite3_column_int64(st, 0));
    *a = static_cast<DWORD>(sqlite3_column_int64(st, 1));
    *b = static_cast<DWORD>(sqlite3_column_int64(st, 2));
    return ERROR_SUCCESS;
  };
  LONG rc = stats(kSubKeyStats, &info->subKeys, &info->maxSubKeyLen, &info->maxClassLen);
  if (rc != ERROR_SUCCESS) return rc;
  return stats(kValueStats, &info->values, &info->maxValueNameLen, &info->maxValueLen);
}

}  // namespace sundry::platform::regstore

#pragma once
// The SQLite database behind the registry functions (internal).
//
// One Store is one open connection to one store file. It knows nothing of
// handles, access masks or caller buffers: it works on key ids and on names
// that the caller has already case-folded, and answers with Win32 result
// codes. platform/registry.cpp serialises every call with its own mutex, so
// a Store is never used by two threads at once.
//
// Layout of the file (schema version 1, marked by PRAGMA application_id and
// user_version so that a foreign or damaged file is recognised and refused):
//
//   keys(id, parent, name, fold, path, class, mtime, system)
//     parent 0 marks a root; fold is the upper-cased name and path the
//     upper-cased full path from the root ("HKEY_LOCAL_MACHINE\SOFTWARE"),
//     unique, so that a key at any depth is found with one index look-up.
//     Keys are never renamed or moved, so a path never changes. Ids come from
//     AUTOINCREMENT and are never reused once committed: a handle to a
//     deleted key can never reach a later key of the same name. (The ids of
//     keys made in a transaction that is rolled back come back into use;
//     registry.cpp retires the handles to such keys.) system marks the roots
//     and the keys behind HKEY_CLASSES_ROOT, which cannot be deleted.
//   vals(key, id, name, fold, type, data)
//     one row per value, clustered by key and then by id, so that a key's
//     values are read in one sweep. A new value takes the key's highest id
//     + 1, which gives the enumeration order (replacing a value keeps its
//     row and its place).

#include <sundry/platform/wintypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sundry::platform::regstore {

using KeyId = int64_t;

// The roots kept in the file. HKEY_CLASSES_ROOT is no root of its own: it
// is HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
enum Root : int { kLocalMachine, kCurrentUser, kUsers, kCurrentConfig, kDynData, kClassesRoot, kRootCount };

// Upper-cased folded path of each root, as stored in keys.path.
extern const char* const kRootPaths[kRootCount];

// A value as enumerated.
struct ValueRow {
  int64_t id = 0;
  std::string name;
  DWORD type = 0;
  std::string data;
};

// A sub-key as enumerated.
struct KeyRow {
  std::string fold;
  std::string name;
  std::string cls;
  int64_t mtime = 0;
};

// What RegQueryInfoKeyA reports.
struct KeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLen = 0;
  DWORD maxClassLen = 0;
  DWORD values = 0;
  DWORD maxValueNameLen = 0;
  DWORD maxValueLen = 0;
  std::string cls;
  int64_t mtime = 0;
};

// Receives a value's type and bytes while they are still inside SQLite's row
// buffer, so that a read copies them once, straight into the caller's
// buffer.
using ValueSink = void (*)(void* ctx, DWORD type, const BYTE* data, size_t size);

// Upper-cases a name with the ANSI code page (Windows-1252) into *out.
void Fold(std::string_view name, std::string* out);

// The current time as FILETIME ticks (100 ns since 1601-01-01 UTC).
int64_t NowFileTime();

class Store {
 public:
  // Opens the store file at path, creating it with its roots when no file
  // exists there. Returns ERROR_SUCCESS and the store in *out, or:
  //   ERROR_BADDB when the file is not a registry store (not SQLite, another
  //     program's SQLite database, an empty file, another schema version);
  //   ERROR_REGISTRY_CORRUPT when it is a registry store that is damaged;
  //   ERROR_REGISTRY_IO_FAILED when it cannot be read, created or opened.
  // An existing file is never re-created and, when refused, never written.
  static LONG Open(const std::string& path, std::unique_ptr<Store>* out);

  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  KeyId RootId(Root r) const { return m_roots[r]; }

  // Finds the key with the folded full path. ERROR_FILE_NOT_FOUND when there
  // is none. When base is not 0, the key base must still exist, else
  // ERROR_KEY_DELETED (the caller names a path relative to an open handle).
  LONG FindKey(std::string_view path, KeyId base, KeyId* id);

  // ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it does not.
  LONG CheckKey(KeyId id);

  // Creates the missing keys of parentPath\names[0]\...\names[n-1] below
  // the existing key parent, in one transaction; the last one gets the class
  // cls. *created tells whether the last key was made. ERROR_KEY_DELETED
  // when parent no longer exists.
  LONG CreateKey(KeyId parent, const std::string& parentPath, const std::vector<std::string_view>& names,
                 std::string_view cls, KeyId* id, std::string* path, bool* created);

  // Deletes a key without sub-keys, with its values. ERROR_ACCESS_DENIED
  // for a key that has sub-keys or is a root; ERROR_KEY_DELETED when it is
  // gone already.
  LONG DeleteKey(KeyId id);

  // Deletes every key below the key id with its values, and then the key
  // itself, or with keepTop only its values. All in one transaction, and
  // only after every key concerned has been checked: ERROR_ACCESS_DENIED,
  // nothing changed, when one of them is a system key (a root, or a key
  // behind HKEY_CLASSES_ROOT), or when keepTop is set, the key has values and
  // topValues is false. ERROR_KEY_DELETED when the key is gone.
  LONG DeleteTree(KeyId id, bool keepTop, bool topValues);

  // Transactions spanning several calls. Begin opens one (or, inside one, a
  // nested savepoint); End commits or rolls back the innermost one. Every
  // write in between joins it. A transaction that SQLite rolled back on its
  // own (I/O error, disk full) makes every level's End fail.
  LONG BeginTransaction();
  LONG EndTransaction(bool commit);
  int TransactionDepth() const { return m_depth; }

  // Reads a value: calls sink with its type and bytes. ERROR_FILE_NOT_FOUND
  // for a missing value, ERROR_KEY_DELETED for a deleted key.
  LONG GetValue(KeyId key, std::string_view fold, ValueSink sink, void* ctx);

  // Writes a value (committed when ERROR_SUCCESS is returned). A value of
  // that name in any case is replaced and keeps its name and its place.
  LONG SetValue(KeyId key, std::string_view name, std::string_view fold, DWORD type, const BYTE* data,
                size_t size);

  // Deletes a value. ERROR_FILE_NOT_FOUND or ERROR_KEY_DELETED.
  LONG DeleteValue(KeyId key, std::string_view fold);

  // Values of a key in enumeration order: those after the value with id
  // afterId (offset < 0), or those from position offset on. At most maxRows
  // rows and, past the first row, about maxBytes bytes of data; *more tells
  // whether rows may follow.
  LONG ListValues(KeyId key, int64_t afterId, int64_t offset, size_t maxRows, size_t maxBytes,
                  std::vector<ValueRow>* rows, bool* more);

  // Sub-keys of a key in the order of their folded names: those after the
  // folded name afterFold (offset < 0), or those from position offset on.
  LONG ListSubKeys(KeyId parent, std::string_view afterFold, int64_t offset, size_t maxRows,
                   std::vector<KeyRow>* rows, bool* more);

  // Counts and maximum lengths for RegQueryInfoKeyA. ERROR_KEY_DELETED when
  // the key is gone.
  LONG QueryInfo(KeyId key, KeyInfo* info);

 private:
  enum Stmt : int {
    kBegin,
    kCommit,
    kRollback,
    kSavepoint,
    kRelease,
    kRollbackTo,
    kFindKey,
    kFindKeyUnder,
    kKeyExists,
    kKeyDetail,
    kInsertKey,
    kTouchKey,
    kHasChildren,
    kDeleteKeyValues,
    kDeleteKey,
    kKeyPath,
    kTreeHasSystem,
    kHasValues,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kGetValue,
    kUpsertValue,
    kDeleteValue,
    kValuesAfter,
    kValuesFrom,
    kKeysAfter,
    kKeysFrom,
    kSubKeyStats,
    kValueStats,
    kStmtCount
  };
  class Txn;

  explicit Store(sqlite3* db) : m_db(db) {}
  LONG Prepare();
  LONG LoadRoots();
  sqlite3_stmt* Stmt(Stmt s);
  LONG Touch(KeyId id, int64_t now);

  sqlite3* m_db;
  sqlite3_stmt* m_stmts[kStmtCount] = {};
  KeyId m_roots[kRootCount] = {};
  int m_depth = 0;      // open transaction levels: BEGIN, then savepoints
  bool m_lost = false;  // SQLite rolled the transaction back under open levels
};

}  // namespace sundry::platform::regstore

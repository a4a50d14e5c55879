#pragma once
// Registry editor files (.reg): reading, writing, import and export.
//
// A .reg file is a text file that lists registry keys and their values:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Example]
//   @="default value"
//   "Text"="C:\\Program Files\\Example"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,03
//   "Path"=hex(2):25,54,45,4d,50,25,00
//
//   [-HKEY_CURRENT_USER\Software\Obsolete]
//
// The library writes the ANSI form ("REGEDIT4" header, Windows-1252 text,
// CRLF line ends). It reads that form and also the
// "Windows Registry Editor Version 5.00" form, stored as UTF-16LE with a byte
// order mark or as UTF-8/ANSI text; Unicode text is converted to
// Windows-1252, the code page of the narrow registry store, and a character
// that code page cannot hold makes the file unreadable rather than being
// replaced. In version 5 files the hex payloads of the string types (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-16LE and are converted the same way.
//
// Writing is deterministic: keys and values appear in the store's
// enumeration order, so export -> import into an empty store -> export gives
// the same bytes. Every value round-trips byte for byte: a REG_SZ that is not
// exactly one zero-terminated text without line breaks, or a REG_DWORD that
// is not four bytes long, is written in the hex(N) form.
//
// Import is all or nothing: the whole file is read and checked against the
// store's limits (<sundry/platform/registry.h>: name lengths and characters,
// key depth and path length) before the first change is made, and then
// applied in one registry transaction, so a failure part-way, or the process
// being killed, leaves the store as it was. Errors name the line; names in
// messages are shown with control characters escaped and cut when long.
//
// No function throws. Functions that reach the store use the Win32 registry
// functions (<sundry/platform/registry.h>) and return their Win32 result
// code; every key handle they open is closed before they return.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <string>
#include <string_view>
#include <vector>

namespace sundry::registry {

// One value line of a .reg file.
struct RegFileValue {
  std::string name;     // value name; empty for the key's default value ("@")
  bool remove = false;  // "name"=- : delete the value (type and data unused)
  DWORD type = REG_NONE;
  std::string data;     // the value's bytes exactly as the store holds them
  int line = 0;         // line of the file where the entry starts; 0 if not read from a file
};

// One [key] section of a .reg file.
struct RegFileKey {
  HKEY root = nullptr;  // one of the predefined root keys
  std::string path;     // path below the root, single backslashes; empty for the root itself
  bool remove = false;  // [-key] : delete the key and its whole sub-tree
  int line = 0;
  std::vector<RegFileValue> values;
};

enum class RegFileFormat {
  Regedit4,  // "REGEDIT4": ANSI text
  Version5,  // "Windows Registry Editor Version 5.00": Unicode text
};

// A whole .reg file: its sections in file order.
struct RegFileContents {
  RegFileFormat format = RegFileFormat::Regedit4;
  std::vector<RegFileKey> keys;
};

// Why a file could not be read, written or applied.
struct RegFileError {
  int line = 0;       // line of the file at fault; 0 when no line is concerned
  LONG code = 0;      // Win32 error code
  std::string reason; // what is wrong, in words
  // "line N: reason", or the reason alone when no line is concerned.
  SUNDRY_EXPORT std::string Text() const;
};

// The long name of a predefined root key ("HKEY_CURRENT_USER"), or null when
// root is not one of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG or HKEY_DYN_DATA.
SUNDRY_EXPORT const char* RootKeyName(HKEY root);

// Splits a full key path such as "HKCU\Software\Example" or
// "HKEY_CURRENT_USER\Software\Example" into its root and the path below it.
// The root is matched without regard to case in its long form or its short
// form (HKCR, HKCU, HKLM, HKU, HKCC). A trailing backslash is dropped.
// Returns false, leaving the outputs untouched, when the root is unknown or
// the path has an empty component ("A\\B", a leading backslash).
SUNDRY_EXPORT bool ParseKeyPath(std::string_view text, HKEY* root, std::string* subKey);

// Reads the bytes of a .reg file (with or without a byte order mark). Line
// ends may be CRLF or LF; key names may also use the short root names.
// Returns true and fills *out on success. On failure returns false, leaves
// *out empty and describes the first fault in *err (ERROR_NOT_REGISTRY_FILE
// for a missing or unknown header, ERROR_INVALID_DATA for a malformed line,
// a bad encoding, a character Windows-1252 cannot hold, or a name or key path
// the store would refuse: a key name over 255 characters, a key deeper than
// 512 levels or with a full path over 32,767 characters, a value name over
// 16,383 characters, a control character in a key or value name).
SUNDRY_EXPORT bool ParseRegFile(std::string_view bytes, RegFileContents* out, RegFileError* err);

// Writes contents as a "REGEDIT4" file into *text (whatever contents.format
// says). Fails with ERROR_INVALID_DATA, *text left empty, when a key or value
// name holds a line break or a zero byte, or a root is unknown: such a file
// could not be read back as it was meant.
SUNDRY_EXPORT bool FormatRegFile(const RegFileContents& contents, std::string* text, RegFileError* err);

// Reads the key subKey below root and its sub-tree from the store into
// *out: one section per key, parents before their sub-keys, in the store's
// enumeration order. The walk does not recurse, so a deep tree takes no more
// stack than a flat one. maxDepth limits the levels below the key (0: the key
// alone, 1: the key and its sub-keys, negative: the whole sub-tree). Key
// names are taken with the case the store keeps, also for the components of
// subKey. Returns ERROR_SUCCESS, or the failing registry call's code
// (ERROR_FILE_NOT_FOUND when the key does not exist, ERROR_INVALID_PARAMETER
// for an unknown root or a path with an empty component); *out is left empty
// on failure.
SUNDRY_EXPORT LONG ReadRegistryTree(HKEY root, const char* subKey, RegFileContents* out,
                                    int maxDepth = -1);

// Applies contents to the store, section by section in file order: creates
// keys, sets values, deletes values and key trees, all in one registry
// transaction. Deleting what does not exist is not an error; a key tree is
// deleted whole or, when any key of it may not be deleted, the file fails.
// Returns ERROR_SUCCESS, or the first failing call's code with *err naming
// the line of the entry; then nothing of contents has been applied.
SUNDRY_EXPORT LONG ApplyRegFile(const RegFileContents& contents, RegFileError* err);

// ParseRegFile, then ApplyRegFile when the whole file is sound. A malformed
// file changes nothing. *err is filled on failure.
SUNDRY_EXPORT LONG ImportRegFile(std::string_view bytes, RegFileError* err);

// ReadRegistryTree, then FormatRegFile: the REGEDIT4 text of the key and its
// sub-tree. *err (may be null) is filled on failure.
SUNDRY_EXPORT LONG ExportRegFile(HKEY root, const char* subKey, std::string* text, RegFileError* err);

// ImportRegFile on the content of the file at path. A file that cannot be
// read gives the file system's code (ERROR_FILE_NOT_FOUND, ...) with the
// path in *err, and changes nothing.
SUNDRY_EXPORT LONG ImportRegFileFromPath(const char* path, RegFileError* err);

// ExportRegFile into the file at path, replacing it durably: a failure
// leaves a former file as it was and no partial file behind.
SUNDRY_EXPORT LONG ExportRegFileToPath(HKEY root, const char* subKey, const char* path, RegFileError* err);

// Deletes the key subKey below root with all its sub-keys and values, in
// one transaction (RegDeleteTreeA). ERROR_FILE_NOT_FOUND when it does not
// exist; ERROR_ACCESS_DENIED, with nothing deleted, for an empty subKey (a
// root key cannot be deleted) and when any key of the sub-tree may not be
// deleted (such as the keys behind HKEY_CLASSES_ROOT).
SUNDRY_EXPORT LONG DeleteRegistryTree(HKEY root, const char* subKey);

}  // namespace sundry::registry

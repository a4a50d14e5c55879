#pragma once
// CFileFind: the framework's file search over one directory.
//
// FindFile(pattern) takes a directory and a name pattern ("dir/*.*",
// "dir\*.dll"; "*" any run of characters, "?" one, compared without regard
// to case, "*.*" every name) and reads the directory's matching entries at
// once, "." and ".." included, ordered by name. It returns TRUE when there
// is a match, but no entry is current yet: each FindNextFile makes the next
// one current and returns whether another follows, so the loop
//
//   BOOL more = find.FindFile(pattern);
//   while (more) { more = find.FindNextFile(); ... the current entry ... }
//
// sees every match. In the directory part of the pattern a "\" stands for
// "/"; GetFilePath joins the directory and the name with "/", and a name's
// own backslashes are kept.
//
// A symbolic link is described by what it points to (a link to a directory
// is a directory) and also carries FILE_ATTRIBUTE_REPARSE_POINT, so that a
// walk can decline to follow it (a link to a parent would make a walk
// endless). The creation time is the file's birth time where the file
// system keeps one, else its status-change time.
//
// Not thread-safe; one object per walk.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/CTime.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/wintypes.h>

#include <ctime>
#include <string>
#include <vector>

class SUNDRY_EXPORT CFileFind {
 public:
  CFileFind() = default;
  virtual ~CFileFind() = default;

  // FALSE (and the last error) when the directory cannot be read or nothing
  // matches (ERROR_FILE_NOT_FOUND); a null or empty pattern matches nothing.
  BOOL FindFile(const char* pattern = nullptr, DWORD unused = 0);
  BOOL FindNextFile();
  void Close();

  CString GetFileName() const;
  CString GetFilePath() const;
  CString GetRoot() const;
  ULONGLONG GetLength() const;
  BOOL GetCreationTime(CTime& time) const;
  BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
  BOOL IsDots() const;
  BOOL MatchesMask(DWORD mask) const;

 private:
  struct Entry {
    std::string name;
    DWORD attributes;
    ULONGLONG size;
    time_t created;
  };
  const Entry* current() const;

  std::string m_root;
  std::vector<Entry> m_entries;
  size_t m_next = 0;  // one past the current entry; 0 before the first
};

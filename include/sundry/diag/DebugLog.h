#pragma once
// CDebugLog: a trace scope of the debug log.
//
// An operation that traces itself opens a scope on its stack frame; the
// scope ends when the operation returns. Lines are written only when the
// environment variable SUNDRY_LOG names a file (or "stderr"); otherwise every
// call returns at once. No call ever throws or reports a failure, and the
// caller never depends on what was written.
//
// The scope's state is plain data, so a copy is a member-by-member copy; the
// copy constructor and assignment live in libsundry, the rest in the
// debug-log library. Closing a scope restores the thread's nesting depth to
// what it was when that scope opened, so closing a copy as well does no harm.

#include <sundry/export.h>

class SUNDRY_DEBUGLOG_EXPORT CDebugLog {
 public:
  explicit CDebugLog(const char* scope);
  CDebugLog(const char* scope, const char* format, ...) __attribute__((format(printf, 3, 4)));
  CDebugLog(const CDebugLog& other);
  CDebugLog& operator=(const CDebugLog& other);
  virtual ~CDebugLog();

  // Records one line in this scope: a short category word and a
  // printf-formatted text.
  void Report(const char* category, const char* format, ...) __attribute__((format(printf, 3, 4)));

 private:
  const char* m_Scope;  // the caller's literal; never owned
  int m_Depth;          // nesting depth of this scope on its thread
  int m_Enabled;        // non-zero when the log writes anything
};

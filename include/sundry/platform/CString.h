#pragma once
// CString: the framework's counted narrow string.
//
// Narrow (ANSI code page, see codepage.h) and counted, so it may hold zero
// bytes when built from a pointer and a length. It converts implicitly to
// const char*, as the framework's string does, so it can be passed straight
// to the Win32-style functions. Positions are int; a search that finds
// nothing returns -1; Mid, Left and Right clamp out-of-range arguments.

#include <sundry/export.h>
#if defined(_WIN32)
// Before the class, so that LoadString is the same (LoadStringA) name in
// every translation unit.
#  include <sundry/platform/wintypes.h>
#endif

#include <cstdarg>
#include <string>
#include <string_view>

class SUNDRY_EXPORT CString {
 public:
  CString() = default;
  CString(const char* text) : m_str(text ? text : "") {}  // NOLINT: implicit by design
  CString(const char* text, int length);
  CString(char ch, int repeat = 1);
  CString(const std::string& text) : m_str(text) {}  // NOLINT
  CString(std::string_view text) : m_str(text) {}    // NOLINT
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const char* text);
  CString& operator=(char ch);

  // Length in bytes, without the terminating zero.
  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }

  operator const char*() const { return m_str.c_str(); }  // NOLINT: implicit by design
  const char* GetString() const { return m_str.c_str(); }
  const std::string& str() const { return m_str; }

  // Character access. GetAt(GetLength()) gives the terminating zero; any
  // other index outside the string gives 0 (and fails an assert in a debug
  // build). SetAt outside 0..GetLength()-1 writes nothing.
  char GetAt(int index) const;
  void SetAt(int index, char ch);
  char operator[](int index) const { return GetAt(index); }

  // Concatenation.
  CString& operator+=(const CString& other);
  CString& operator+=(const char* text);
  CString& operator+=(char ch);
  void Append(const char* text, int length);

  // Comparison: byte-wise (Compare) or by the code page's upper case
  // (CompareNoCase); -1, 0 or 1. Both stop at the first zero byte. The
  // operators between two CStrings compare all GetLength() bytes instead,
  // zero bytes included, so that ==, < and > agree with one another.
  int Compare(const char* text) const;
  int CompareNoCase(const char* text) const;

  // Searching; start beyond the end gives -1.
  int Find(char ch, int start = 0) const;
  int Find(const char* sub, int start = 0) const;
  int ReverseFind(char ch) const;
  int FindOneOf(const char* chars) const;

  // Extraction (clamped to the string).
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Left(int count) const;
  CString Right(int count) const;
  CString SpanIncluding(const char* chars) const;
  CString SpanExcluding(const char* chars) const;
  // Next token delimited by any of `tokens` from `start`; start becomes -1
  // after the last token.
  CString Tokenize(const char* tokens, int& start) const;

  // Changing.
  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& TrimLeft();
  CString& TrimLeft(char target);
  CString& TrimLeft(const char* targets);
  CString& TrimRight();
  CString& TrimRight(char target);
  CString& TrimRight(const char* targets);
  CString& Trim();
  CString& Trim(char target);
  CString& Trim(const char* targets);
  int Replace(char oldCh, char newCh);
  int Replace(const char* oldText, const char* newText);
  int Remove(char ch);
  int Insert(int index, char ch);
  int Insert(int index, const char* text);
  int Delete(int index, int count = 1);

  // printf-style formatting; Format replaces the content, AppendFormat adds.
  // The arguments may point into this string's own text.
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void FormatV(const char* format, va_list args);
  void AppendFormatV(const char* format, va_list args);

  // Direct buffer access. GetBuffer(n) returns a writable, zero-terminated
  // buffer of at least n characters plus the terminator (the current text
  // kept); ReleaseBuffer(-1) then sets the length to the buffer's first zero
  // byte, ReleaseBuffer(n) to n.
  char* GetBuffer(int minLength = 0);
  char* GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);

#if defined(_WIN32)
  // Windows build: loads string resource nID, whole, from the module that
  // AfxFindResourceHandle names. Nonzero when found; else the text is empty.
  int LoadString(unsigned int nID);
#endif

 private:
  std::string m_str;
};

SUNDRY_EXPORT CString operator+(const CString& a, const CString& b);
SUNDRY_EXPORT CString operator+(const CString& a, const char* b);
SUNDRY_EXPORT CString operator+(const char* a, const CString& b);
SUNDRY_EXPORT CString operator+(const CString& a, char b);
SUNDRY_EXPORT CString operator+(char a, const CString& b);

inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
inline bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, const char* b) { return !(a == b); }
inline bool operator!=(const char* a, const CString& b) { return !(a == b); }
inline bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
inline bool operator<(const CString& a, const char* b) { return a.Compare(b) < 0; }
inline bool operator<(const char* a, const CString& b) { return b.Compare(a) > 0; }
inline bool operator>(const CString& a, const CString& b) { return a.str() > b.str(); }
inline bool operator>(const CString& a, const char* b) { return a.Compare(b) > 0; }
inline bool operator>(const char* a, const CString& b) { return b.Compare(a) < 0; }
inline bool operator<=(const CString& a, const CString& b) { return a.str() <= b.str(); }
inline bool operator<=(const CString& a, const char* b) { return a.Compare(b) <= 0; }
inline bool operator<=(const char* a, const CString& b) { return b.Compare(a) >= 0; }
inline bool operator>=(const CString& a, const CString& b) { return a.str() >= b.str(); }
inline bool operator>=(const CString& a, const char* b) { return a.Compare(b) >= 0; }
inline bool operator>=(const char* a, const CString& b) { return b.Compare(a) <= 0; }

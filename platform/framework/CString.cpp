// CString: the framework's counted narrow string over std::string.

#include <sundry/platform/CString.h>
#include <sundry/platform/codepage.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

using sundry::platform::AnsiCompareNoCase;
using sundry::platform::AnsiToLower;
using sundry::platform::AnsiToUpper;

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Clamps a (first, count) pair to a string of `len` bytes.
void clampRange(int len, int& first, int& count) {
  if (first < 0) first = 0;
  if (first > len) first = len;
  if (count < 0) count = 0;
  if (count > len - first) count = len - first;
}

}  // namespace

CString::CString(const char* text, int length) {
  if (text != nullptr && length > 0) m_str.assign(text, static_cast<size_t>(length));
}

CString::CString(char ch, int repeat) {
  if (repeat > 0) m_str.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(const char* text) {
  m_str = text ? text : "";
  return *this;
}

CString& CString::operator=(char ch) {
  m_str.assign(1, ch);
  return *this;
}

CString& CString::operator+=(const CString& other) {
  m_str += other.m_str;
  return *this;
}

CString& CString::operator+=(const char* text) {
  if (text) m_str += text;
  return *this;
}

CString& CString::operator+=(char ch) {
  m_str += ch;
  return *this;
}

void CString::Append(const char* text, int length) {
  if (text && length > 0) m_str.append(text, static_cast<size_t>(length));
}

char CString::GetAt(int index) const {
  bool ok = index >= 0 && index <= GetLength();
  assert(ok && "CString::GetAt: index out of range");
  return ok ? m_str.c_str()[index] : '\0';
}

void CString::SetAt(int index, char ch) {
  bool ok = index >= 0 && index < GetLength();
  assert(ok && "CString::SetAt: index out of range");
  if (ok) m_str[static_cast<size_t>(index)] = ch;
}

int CString::Compare(const char* text) const {
  int r = std::strcmp(m_str.c_str(), text ? text : "");
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(const char* text) const {
  int r = AnsiCompareNoCase(m_str.c_str(), text ? text : "");
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::Find(char ch, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  size_t pos = m_str.find(ch, static_cast<size_t>(start));
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
  if (sub == nullptr || start < 0 || start > GetLength()) return -1;
  size_t pos = m_str.find(sub, static_cast<size_t>(start));
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
  size_t pos = m_str.rfind(ch);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const char* chars) const {
  if (chars == nullptr) return -1;
  size_t pos = m_str.find_first_of(chars);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  clampRange(GetLength(), first, count);
  return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const {
  if (count < 0) count = 0;
  if (count > GetLength()) count = GetLength();
  return CString(m_str.substr(static_cast<size_t>(GetLength() - count)));
}

CString CString::SpanIncluding(const char* chars) const {
  size_t n = std::strspn(m_str.c_str(), chars ? chars : "");
  return CString(m_str.substr(0, n));
}

CString CString::SpanExcluding(const char* chars) const {
  size_t n = std::strcspn(m_str.c_str(), chars ? chars : "");
  return CString(m_str.substr(0, n));
}

CString CString::Tokenize(const char* tokens, int& start) const {
  if (start < 0) return CString();
  const char* delims = tokens ? tokens : "";
  size_t pos = static_cast<size_t>(start);
  if (pos < m_str.size()) {
    pos = m_str.find_first_not_of(delims, pos);
    if (pos != std::string::npos) {
      size_t end = m_str.find_first_of(delims, pos);
      if (end == std::string::npos) end = m_str.size();
      start = static_cast<int>(end + (end < m_str.size() ? 1 : 0));
      return CString(m_str.substr(pos, end - pos));
    }
  }
  start = -1;
  return CString();
}

CString& CString::MakeUpper() {
  for (char& c : m_str) c = static_cast<char>(AnsiToUpper(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : m_str) c = static_cast<char>(AnsiToLower(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(m_str.begin(), m_str.end());
  return *this;
}

CString& CString::TrimLeft() {
  size_t i = 0;
  while (i < m_str.size() && isSpace(m_str[i])) ++i;
  m_str.erase(0, i);
  return *this;
}

CString& CString::TrimLeft(char target) {
  size_t i = 0;
  while (i < m_str.size() && m_str[i] == target) ++i;
  m_str.erase(0, i);
  return *this;
}

CString& CString::TrimLeft(const char* targets) {
  if (targets == nullptr || *targets == '\0') return *this;
  size_t i = m_str.find_first_not_of(targets);
  m_str.erase(0, i == std::string::npos ? m_str.size() : i);
  return *this;
}

CString& CString::TrimRight() {
  size_t n = m_str.size();
  while (n > 0 && isSpace(m_str[n - 1])) --n;
  m_str.resize(n);
  return *this;
}

CString& CString::TrimRight(char target) {
  size_t n = m_str.size();
  while (n > 0 && m_str[n - 1] == target) --n;
  m_str.resize(n);
  return *this;
}

CString& CString::TrimRight(const char* targets) {
  if (targets == nullptr || *targets == '\0') return *this;
  size_t i = m_str.find_last_not_of(targets);
  m_str.resize(i == std::string::npos ? 0 : i + 1);
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(char target) { return TrimRight(target).TrimLeft(target); }
CString& CString::Trim(const char* targets) { return TrimRight(targets).TrimLeft(targets); }

int CString::Replace(char oldCh, char newCh) {
  int count = 0;
  for (char& c : m_str)
    if (c == oldCh) {
      c = newCh;
      ++count;
    }
  return count;
}

int CString::Replace(const char* oldText, const char* newText) {
  if (oldText == nullptr || *oldText == '\0') return 0;
  const std::string from(oldText);
  const std::string to(newText ? newText : "");
  int count = 0;
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t hit = m_str.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(m_str, pos, hit - pos);
    out += to;
    pos = hit + from.size();
    ++count;
  }
  if (count) {
    out.append(m_str, pos, std::string::npos);
    m_str.swap(out);
  }
  return count;
}

int CString::Remove(char ch) {
  size_t before = m_str.size();
  m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
  return static_cast<int>(before - m_str.size());
}

int CString::Insert(int index, char ch) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  m_str.insert(static_cast<size_t>(index), 1, ch);
  return GetLength();
}

int CString::Insert(int index, const char* text) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  if (text) m_str.insert(static_cast<size_t>(index), text);
  return GetLength();
}

int CString::Delete(int index, int count) {
  if (index < 0) index = 0;
  if (index < GetLength() && count > 0) {
    if (count > GetLength() - index) count = GetLength() - index;
    m_str.erase(static_cast<size_t>(index), static_cast<size_t>(count));
  }
  return GetLength();
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

// Formats into a separate buffer first: an argument may point into m_str,
// which must stay intact (and in place) until vsnprintf has read it.
void CString::FormatV(const char* format, va_list args) {
  CString text;
  text.AppendFormatV(format, args);
  m_str.swap(text.m_str);
}

void CString::AppendFormatV(const char* format, va_list args) {
  if (format == nullptr) return;
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  m_str.append(text.data(), static_cast<size_t>(n));
}

char* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) m_str.resize(static_cast<size_t>(minLength), '\0');
  return m_str.data();
}

char* CString::GetBufferSetLength(int length) {
  m_str.resize(static_cast<size_t>(length < 0 ? 0 : length), '\0');
  return m_str.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0)
    m_str.resize(std::strlen(m_str.c_str()));
  else if (static_cast<size_t>(newLength) <= m_str.size())
    m_str.resize(static_cast<size_t>(newLength));
}

CString operator+(const CString& a, const CString& b) { return CString(a.str() + b.str()); }
CString operator+(const CString& a, const char* b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const char* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const CString& a, char b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(char a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

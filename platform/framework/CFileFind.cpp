// CFileFind's walk over the entries a listing found; the listing itself is
// each platform's own (FindFile: platform/posix, platform/win).

#include <sundry/platform/CFileFind.h>
#include <sundry/platform/error.h>

BOOL CFileFind::FindNextFile() {
  if (m_next >= m_entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  ++m_next;
  return m_next < m_entries.size();
}

void CFileFind::Close() {
  m_entries.clear();
  m_root.clear();
  m_next = 0;
}

const CFileFind::Entry* CFileFind::current() const {
  return m_next > 0 && m_next <= m_entries.size() ? &m_entries[m_next - 1] : nullptr;
}

CString CFileFind::GetFileName() const { return current() ? CString(current()->name) : CString(); }
CString CFileFind::GetFilePath() const { return current() ? CString(m_root + "/" + current()->name) : CString(); }
CString CFileFind::GetRoot() const { return CString(m_root); }
ULONGLONG CFileFind::GetLength() const { return current() ? current()->size : 0; }
BOOL CFileFind::GetCreationTime(CTime& time) const {
  if (!current()) return FALSE;
  time = CTime(current()->created);
  return TRUE;
}
BOOL CFileFind::IsDots() const {
  return current() && IsDirectory() && (current()->name == "." || current()->name == "..");
}
BOOL CFileFind::MatchesMask(DWORD mask) const { return current() && (current()->attributes & mask) != 0; }

// The copy operations of CDebugLog, exported by libsundry itself: a
// member-by-member copy that never calls into the debug-log library.

#include <sundry/diag/DebugLog.h>

CDebugLog::CDebugLog(const CDebugLog& other)
    : m_Scope(other.m_Scope), m_Depth(other.m_Depth), m_Enabled(other.m_Enabled) {}

CDebugLog& CDebugLog::operator=(const CDebugLog& other) {
  m_Scope = other.m_Scope;
  m_Depth = other.m_Depth;
  m_Enabled = other.m_Enabled;
  return *this;
}

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/sysinfo/DNSSuffixUtil.h>

#include <sundry/platform/error.h>

#include <new>
#include <string>
#include <vector>

namespace {
const char* errorText(DWORD code) {
  const char* text = sundry::platform::ErrorText(code);
  return text != nullptr ? text : "unknown error";
}
}  // namespace

CDNSSuffixUtil::CDNSSuffixUtil() : m_bInit(0), m_hr(0), m_pServices(nullptr), m_bRegistry(0) {
  CDebugLog log("CDNSSuffixUtil::CDNSSuffixUtil");
  // The resolver file needs no connection: the object is ready at once, and
  // whether the file can be read is found out by each call.
  m_bInit = 1;
  log.Report("Status", "Init = %d, Registry = %d, HR = 0x%x", m_bInit, m_bRegistry, static_cast<unsigned>(m_hr));
}

CDNSSuffixUtil::CDNSSuffixUtil(const CDNSSuffixUtil& other) = default;
CDNSSuffixUtil& CDNSSuffixUtil::operator=(const CDNSSuffixUtil& other) = default;

CDNSSuffixUtil::~CDNSSuffixUtil() {
  CDebugLog log("CDNSSuffixUtil::~CDNSSuffixUtil");
  m_bInit = 0;
}

bool CDNSSuffixUtil::isDNSName(const char* text) {
  if (text == nullptr) return false;
  std::string name(text);
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty() || name.size() > 253) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    const size_t len = dot - start;
    if (len == 0 || len > 63 || name[start] == '-' || name[dot - 1] == '-') return false;
    for (size_t i = start; i < dot; ++i) {
      const char c = name[i];
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_';
      if (!ok) return false;
    }
    start = dot + 1;
  }
  return true;
}

CDNSSuffixUtil::eERROR CDNSSuffixUtil::getDNSSuffixList(CStringArray& suffixes) {
  CDebugLog log("CDNSSuffixUtil::getDNSSuffixList");
  suffixes.RemoveAll();
  if (!m_bInit) return eNOT_INITIALIZED;
  log.Report("Status", "working...");
  try {
    std::vector<std::string> list;
    const DWORD rc = sundry::platform::ReadResolverSearchList(&list);
    m_hr = static_cast<LONG>(rc);
    // A missing file is an empty list: the resolver has none either.
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      log.Report("Error", "%s: %s", sundry::platform::ResolverConfPath().c_str(), errorText(rc));
      return eFAILED;
    }
    for (const std::string& s : list) {
      log.Report("Suffix", "%s", s.c_str());
      if (suffixes.Add(CString(s)) < 0) {
        suffixes.RemoveAll();
        return eFAILED;
      }
    }
    return eOK;
  } catch (const std::bad_alloc&) {
    suffixes.RemoveAll();
    return eFAILED;
  }
}

CDNSSuffixUtil::eERROR CDNSSuffixUtil::setSuffixes(CStringArray& suffixes) {
  CDebugLog log("CDNSSuffixUtil::SetSuffixes");
  if (!m_bInit) return eNOT_INITIALIZED;
  log.Report("Status", "working...");
  try {
    std::vector<std::string> list;
    for (INT_PTR i = 0; i < suffixes.GetSize(); ++i) {
      const CString& s = suffixes.GetAt(i);
      if (!isDNSName(s)) {
        log.Report("Error", "Not a DNS name: \"%s\"; nothing written", s.GetString());
        return eFAILED;
      }
      list.push_back(s.str());
    }
    std::string manager, command;
    const DWORD rc = sundry::platform::WriteResolverSearchList(list, &manager, &command);
    m_hr = static_cast<LONG>(rc);
    if (rc == ERROR_NOT_SUPPORTED && !manager.empty()) {
      log.Report("Error", "%s is managed by %s; nothing written. Change the list with: %s",
                 sundry::platform::ResolverConfPath().c_str(), manager.c_str(), command.c_str());
      return eFAILED;
    }
    if (rc != ERROR_SUCCESS) {
      log.Report("Error", "%s: %s", sundry::platform::ResolverConfPath().c_str(), errorText(rc));
      return eFAILED;
    }
    log.Report("Status", "Success");
    return eOK;
  } catch (const std::bad_alloc&) {
    return eFAILED;
  }
}

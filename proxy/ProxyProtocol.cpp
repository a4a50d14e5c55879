// CProxyProtocol and the owning map CProxyProtocols.

#include <sundry/diag/DebugLog.h>
#include <sundry/proxy/ProxyProtocol.h>

#include <cstdint>
#include <cstdlib>

const CString CProxyProtocol::m_StrProtocolNames[6] = {"http", "https", "ftp", "gopher", "socks", "ALL"};

namespace {

// atol's reading of a port: optional blanks and sign, then the leading
// digits; no digits give 0. Ports beyond 32 bits are cut to them, as a
// 32-bit atol would do.
DWORD portFromText(const char* text) { return static_cast<DWORD>(std::strtol(text, nullptr, 10)); }

}  // namespace

CProxyProtocol::CProxyProtocol() : m_dwPort(0) { CDebugLog log("CProxyProtocol::CProxyProtocol"); }

CString CProxyProtocol::getProxyPort() const {
  CString s;
  s.Format("%s:%lu", m_StrProxy.GetString(), static_cast<unsigned long>(m_dwPort));
  return s;
}

BOOL CProxyProtocol::setProxy(const char* protocol, const char* proxy) {
  m_StrProtocol = protocol;
  if (proxy == nullptr) return 0;
  CString text(proxy);
  int colon = text.Find(':');
  if (colon < 0) return 0;
  m_StrProxy = text.Left(colon);
  m_dwPort = portFromText(text.GetString() + colon + 1);
  return 1;
}

BOOL CProxyProtocol::setProxy(const char* protocol, const char* host, const char* port) {
  m_StrProtocol = protocol;
  if (host != nullptr) m_StrProxy = host;
  if (port != nullptr) m_dwPort = portFromText(port);
  return 1;
}

CProxyProtocols::CProxyProtocols() : CTypedPtrMap<CMapStringToPtr, CString, CProxyProtocol*>(10) {
  CDebugLog log("CProxyProtocols::CProxyProtocols");
  InitHashTable(9);
}

CProxyProtocols::~CProxyProtocols() {
  CDebugLog log("CProxyProtocols::~CProxyProtocols");
  RemoveAll();
}

void CProxyProtocols::SetAt(const char* key, CProxyProtocol* entry) {
  CProxyProtocol* old = nullptr;
  if (Lookup(key, old) && old != entry) delete old;
  CTypedPtrMap<CMapStringToPtr, CString, CProxyProtocol*>::SetAt(key, entry);
}

void CProxyProtocols::RemoveAll() {
  CDebugLog log("CProxyProtocols::RemoveAll");
  POSITION pos = GetStartPosition();
  while (pos != nullptr) {
    CString key;
    CProxyProtocol* entry = nullptr;
    GetNextAssoc(pos, key, entry);
    log.Report("delete", "CProxyProtocol * 0x%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(entry)));
    delete entry;
    RemoveKey(key);
  }
  CMapStringToPtr::RemoveAll();
}

// CProxy: the model, its copying and clearing, the accessors, the protocol
// operations and the exceptions list.

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/file.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/util/Sundry.h>

#include <cstring>
#include <new>

const CString CProxy::m_StrRKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const CString CProxy::m_StrNsPrefProxy = "user_pref(\"network.proxy.";
const CString CProxy::m_StrNsPrefAddrFmt = "user_pref(\"network.proxy.%s\",\"%s\");";
const CString CProxy::m_StrNsPrefPortFmt = "user_pref(\"network.proxy.%s%s\",%lu);";

namespace {

// Splits a ";"-separated list into its non-empty pieces.
void splitList(const CString& text, CStringArray& out) {
  int start = 0;
  while (start < text.GetLength()) {
    int semi = text.Find(';', start);
    int end = semi < 0 ? text.GetLength() : semi;
    if (end > start) out.Add(text.Mid(start, end - start));
    start = end + 1;
  }
}

}  // namespace

CProxy::CProxy()
    : m_eBrowser(BROWSER_UNDETERMINED),
      m_bEnabled(0),
      m_bAutoDetect(0),
      m_bBypassLocal(0),
      m_bScriptEnabled(0),
      m_hGetRoot(nullptr),
      m_hSaveRoot(HKEY_CURRENT_USER),
      m_pNsReadFile(nullptr),
      m_pNsWriteFile(nullptr),
      m_dwVersion(60),
      m_dwUpdateCount(0),
      m_dwFlags(1),
      m_dwSocksVersion(5),
      m_dwDataSize(0) {
  CDebugLog log("CProxy::CProxy");
  clear();
}

CProxy::CProxy(const CProxy& other) : CProxy() {
  CDebugLog log("CProxy::CProxy", "Copy Constructor");
  *this = other;
}

CProxy& CProxy::operator=(const CProxy& other) {
  if (this == &other) return *this;
  m_eBrowser = other.m_eBrowser;
  m_bEnabled = other.m_bEnabled;
  m_bAutoDetect = other.m_bAutoDetect;
  m_bBypassLocal = other.m_bBypassLocal;
  m_StrConnectoid = other.m_StrConnectoid;
  m_StrScript = other.m_StrScript;
  m_StrExceptions = other.m_StrExceptions;
  m_hSaveRoot = other.m_hSaveRoot;
  m_StrSaveKey = other.m_StrSaveKey;
  m_StrSaveValue = other.m_StrSaveValue;
  m_dwVersion = other.m_dwVersion;
  m_dwUpdateCount = other.m_dwUpdateCount;
  m_dwFlags = other.m_dwFlags;
  POSITION pos = other.m_Protocols.GetStartPosition();
  while (pos != nullptr) {
    CString key;
    CProxyProtocol* entry = nullptr;
    other.m_Protocols.GetNextAssoc(pos, key, entry);
    if (entry == nullptr) continue;
    auto* copy = new (std::nothrow) CProxyProtocol(*entry);
    if (copy != nullptr) m_Protocols.SetAt(key, copy);
  }
  m_dwSocksVersion = other.m_dwSocksVersion;
  m_pData.reset();
  m_dwDataSize = 0;
  if (other.m_dwDataSize > 0 && other.m_pData) {
    m_pData.reset(new (std::nothrow) unsigned char[other.m_dwDataSize]);
    if (m_pData) {
      std::memcpy(m_pData.get(), other.m_pData.get(), other.m_dwDataSize);
      m_dwDataSize = other.m_dwDataSize;
    }
  }
  return *this;
}

CProxy::~CProxy() {
  CDebugLog log("CProxy::~CProxy");
  // A reader may have left prefs.js open; nothing else will close it.
  closeNetscapeFile(0);
  closeNetscapeFile(1);
  m_Protocols.RemoveAll();
  m_pData.reset();
}

void CProxy::clear() {
  m_bEnabled = 0;
  m_bAutoDetect = 0;
  m_bBypassLocal = 0;
  m_bScriptEnabled = 0;
  m_hSaveRoot = HKEY_CURRENT_USER;
  m_dwVersion = 60;
  m_dwUpdateCount = 0;
  m_dwFlags = 1;
  m_dwSocksVersion = 5;
  m_pData.reset();
  m_dwDataSize = 0;
  m_StrScript.Empty();
  m_StrExceptions.Empty();
  m_Protocols.RemoveAll();
}

void CProxy::removeProtocols() { m_Protocols.RemoveAll(); }

void CProxy::setScript(const char* url) {
  if (url == nullptr || *url == '\0') m_StrScript.Empty();
  else m_StrScript = url;
}

void CProxy::setExceptions(const char* list) {
  if (list == nullptr || *list == '\0') return;
  CStringArray current, added;
  splitList(m_StrExceptions, current);
  splitList(CString(list), added);
  CSundry::addStringsToStringArray(current, added);
  CString merged;
  for (INT_PTR i = 0; i < current.GetSize(); ++i) {
    merged += current[i];
    merged += ';';
  }
  m_StrExceptions = merged;
}

void CProxy::setGetRegistryName(HKEY root, const char* key) {
  m_hGetRoot = root;
  m_StrGetKey = key;
}

void CProxy::setSaveRegistryName(HKEY root, const char* key, const char* valueName) {
  m_hSaveRoot = root;
  m_StrSaveKey = key;
  if (valueName == nullptr || *valueName == '\0') m_StrSaveValue = m_StrConnectoid;
  else m_StrSaveValue = valueName;
}

void CProxy::setConnectoid(const char* name) {
  CDebugLog log("CProxy::setConnectoid", "%s", name != nullptr ? name : "(null)");
  if (name != nullptr && *name != '\0' &&
      _mbsicmp(reinterpret_cast<const unsigned char*>(name), reinterpret_cast<const unsigned char*>("_LAN_")) != 0)
    m_StrConnectoid = name;
  else
    m_StrConnectoid = "DefaultConnectionSettings";
}

CProxyProtocol* CProxy::entryFor(const CString& protocol) {
  CProxyProtocol* entry = nullptr;
  if (m_Protocols.Lookup(protocol, entry) && entry != nullptr) return entry;
  entry = new (std::nothrow) CProxyProtocol;
  if (entry == nullptr) return nullptr;
  m_Protocols.SetAt(protocol, entry);
  // The map may have refused the entry for want of memory.
  CProxyProtocol* stored = nullptr;
  if (!m_Protocols.Lookup(protocol, stored) || stored != entry) {
    delete entry;
    return nullptr;
  }
  return entry;
}

BOOL CProxy::getProxyForProtocol(CString& proxy, CString protocol) {
  CDebugLog log("CProxy::getProxyForProtocol", "%s %s", proxy.GetString(), protocol.GetString());
  CProxyProtocol* entry = nullptr;
  if (!m_Protocols.Lookup(protocol, entry) || entry == nullptr) {
    log.Report("Status", "Not found.");
    return 0;
  }
  proxy = entry->getProxyPort();
  log.Report("Status", "%s", proxy.GetString());
  return 1;
}

BOOL CProxy::getProxyForProtocol(CString& host, DWORD& port, CString protocol) {
  CDebugLog log("CProxy::getProxyForProtocol", "%s %lu %s", host.GetString(), static_cast<unsigned long>(port),
                protocol.GetString());
  CProxyProtocol* entry = nullptr;
  if (!m_Protocols.Lookup(protocol, entry) || entry == nullptr) {
    log.Report("Status", "Not found.");
    return 0;
  }
  host = entry->getProxy();
  port = entry->getPort();
  log.Report("Status", "%s %lu", host.GetString(), static_cast<unsigned long>(port));
  return 1;
}

BOOL CProxy::setProxyForProtocol(const char* proxy, CString protocol) {
  CDebugLog log("CProxy::setProxyForProtocol", "%s %s", proxy != nullptr ? proxy : "(null)", protocol.GetString());
  CProxyProtocol* entry = entryFor(protocol);
  if (entry == nullptr) return 0;
  return entry->setProxy(protocol, proxy);
}

BOOL CProxy::setProxyForProtocol(const char* host, DWORD port, CString protocol) {
  CDebugLog log("CProxy::setProxyForProtocol", "%s %lu %s", host != nullptr ? host : "(null)",
                static_cast<unsigned long>(port), protocol.GetString());
  CString text;
  text.Format("%s:%lu", host != nullptr ? host : "", static_cast<unsigned long>(port));
  return setProxyForProtocol(text.GetString(), protocol);
}

BOOL CProxy::getProxyForAll(CString& proxy) { return getProxyForProtocol(proxy, CProxyProtocol::m_StrProtocolNames[5]); }

BOOL CProxy::getProxyForAll(CString& host, DWORD& port) {
  return getProxyForProtocol(host, port, CProxyProtocol::m_StrProtocolNames[5]);
}

BOOL CProxy::setProxyForAll(const char* proxy) {
  return setProxyForProtocol(proxy, CProxyProtocol::m_StrProtocolNames[5]);
}

BOOL CProxy::setProxyForAll(const char* host, DWORD port) {
  return setProxyForProtocol(host, port, CProxyProtocol::m_StrProtocolNames[5]);
}

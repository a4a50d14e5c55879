#pragma once
// CProxyProtocol: the proxy of one protocol (name, host, port), and
// CProxyProtocols: the owning map of them that a CProxy holds.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CProxyProtocol {
 public:
  // Protocol names offered to callers: "http", "https", "ftp", "gopher",
  // "socks" and "ALL", the name of the entry that stands for every protocol.
  static const CString m_StrProtocolNames[6];

  CProxyProtocol();
  CProxyProtocol(const CProxyProtocol& other) = default;
  CProxyProtocol& operator=(const CProxyProtocol& other) = default;

  CString getProtocol() const { return m_StrProtocol; }
  // The host.
  CString getProxy() const { return m_StrProxy; }
  DWORD getPort() const { return m_dwPort; }
  // "host:port" ("%s:%lu"); a missing port shows as 0.
  CString getProxyPort() const;

  // Stores the protocol name, then splits proxy at its first ':' into host
  // and port (the leading digits after the colon, 0 for none). 1 on success;
  // 0 when proxy holds no ':' (or is null): host and port keep their values.
  BOOL setProxy(const char* protocol, const char* proxy);
  // Stores the protocol name, and host and port where they are not null
  // (the port's leading digits, 0 for none). Always 1.
  BOOL setProxy(const char* protocol, const char* host, const char* port);

 private:
  CString m_StrProtocol;  // protocol name as given, case kept
  CString m_StrProxy;     // host
  DWORD m_dwPort;         // 0 when none was given
};

// Protocol name (compared exactly, case counts) -> owned CProxyProtocol.
class SUNDRY_EXPORT CProxyProtocols : public CTypedPtrMap<CMapStringToPtr, CString, CProxyProtocol*> {
 public:
  CProxyProtocols();
  ~CProxyProtocols() override;

  // Stores entry under key; an entry the key already had is deleted (unless
  // it is the same object). The map owns entry from then on.
  void SetAt(const char* key, CProxyProtocol* entry);
  // Deletes every entry and empties the map.
  void RemoveAll();
};

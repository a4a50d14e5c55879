// Internet Explorer's connection-settings record: building it from the
// model, parsing it back, the proxy text it carries, and the "hex:" text
// form of the saved copy in INI files.
//
// Record layout (every number a little-endian 32-bit word, texts without a
// terminating zero):
//   0  version            4  update counter      8  flags
//   12 N1, then N1 bytes of proxy text
//      N2, then N2 bytes of exceptions text ("<local>" marks the local bypass)
//      N3, then N3 bytes of automatic configuration script URL
//      24 zero bytes
// Flags: 0x1 always, 0x2 manual proxy, 0x4 script, 0x8 automatic detection,
// 0x100 SOCKS version 4 (Netscape/Mozilla settings only).

#include <sundry/diag/DebugLog.h>
#include <sundry/proxy/Proxy.h>

#include "platform/framework/coding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The builder's work area, and the parser's limits on the three texts.
constexpr DWORD kWorkArea = 2560;
constexpr DWORD kMaxProxyText = 2048;
constexpr DWORD kMaxExceptions = 1024;
constexpr DWORD kMaxScript = 512;
// Six length and header words and 24 closing zero bytes.
constexpr DWORD kFixedBytes = 48;

constexpr DWORD kFlagBase = 0x1;
constexpr DWORD kFlagProxy = 0x2;
constexpr DWORD kFlagScript = 0x4;
constexpr DWORD kFlagAutoDetect = 0x8;
constexpr DWORD kFlagSocks4 = 0x100;

const char kLocal[] = "<local>";

using sundry::platform::DecodeFixed32;
using sundry::platform::EncodeFixed32;
using sundry::platform::HexDigitValue;

// A text of the record as printf's "%*.*s" gives it with n as width and
// precision: at most n bytes, ending at the first zero byte, and padded with
// blanks on the left to n characters when a zero byte cut it short.
CString fieldText(const unsigned char* p, DWORD n) {
  const auto* text = reinterpret_cast<const char*>(p);
  const size_t len = strnlen(text, n);
  if (len == n) return CString(text, static_cast<int>(n));
  CString padded(' ', static_cast<int>(n - len));
  padded.Append(text, static_cast<int>(len));
  return padded;
}

// Whether every text the record's length words announce lies inside its
// size bytes. A length over the parser's limit ends the check there: the
// parser stops at that word and reads nothing after it.
bool textsInside(const unsigned char* data, DWORD size) {
  if (size < 16) return false;
  unsigned long long at = 12;
  const DWORD limits[3] = {kMaxProxyText, kMaxExceptions, kMaxScript};
  for (int i = 0; i < 3; ++i) {
    if (at + 4 > size) return false;
    const DWORD n = DecodeFixed32(data + at);
    if (n >= limits[i]) return true;
    at += 4 + static_cast<unsigned long long>(n);
    if (at > size) return false;
  }
  return true;
}

// The first bytes of a record as "XX,XX,..." for the trace.
std::string traceBytes(const unsigned char* data, DWORD size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  const DWORD n = std::min<DWORD>(size, 32);
  for (DWORD i = 0; i < n; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
    s += ',';
  }
  if (n < size) s += "...";
  return s;
}

}  // namespace

void CProxy::sortedProtocolNames(CStringArray& names) const {
  std::vector<CString> keys;
  POSITION pos = m_Protocols.GetStartPosition();
  while (pos != nullptr) {
    CString key;
    CProxyProtocol* entry = nullptr;
    m_Protocols.GetNextAssoc(pos, key, entry);
    if (entry != nullptr) keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  for (const CString& k : keys) names.Add(k);
}

CString CProxy::proxyText() const {
  CString text;
  CStringArray names;
  sortedProtocolNames(names);
  const char* separator = "";
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    CProxyProtocol* entry = nullptr;
    m_Protocols.Lookup(names[i], entry);
    if (names[i] == CProxyProtocol::m_StrProtocolNames[5]) return entry->getProxyPort();
    text.AppendFormat("%s%s=%s", separator, names[i].GetString(), entry->getProxyPort().GetString());
    separator = ";";
  }
  return text;
}

BOOL CProxy::parseProxyText(const CString& text) {
  if (text.Find('=') < 0) {
    auto* entry = new (std::nothrow) CProxyProtocol;
    if (entry == nullptr) return 0;
    entry->setProxy(CProxyProtocol::m_StrProtocolNames[5], text);
    m_Protocols.SetAt(CProxyProtocol::m_StrProtocolNames[5], entry);
    return 1;
  }
  CString rest = text;
  int e = rest.Find('=');
  bool last = false;
  while (!last) {
    CString protocol = rest.Left(e);
    rest.Delete(0, e + 1);
    CString proxy;
    int s = rest.Find(';');
    if (s < 0) {
      proxy = rest;
      last = true;
    } else {
      proxy = rest.Left(s);
      rest.Delete(0, s + 1);
      e = rest.Find('=');
      if (e < 0) last = true;  // what remains names no protocol and is dropped
    }
    auto* entry = new (std::nothrow) CProxyProtocol;
    if (entry == nullptr) return 0;
    entry->setProxy(protocol, proxy);
    m_Protocols.SetAt(protocol, entry);
  }
  return 1;
}

BOOL CProxy::buildProxyDataIE() {
  CDebugLog log("CProxy::buildProxyDataIE");
  const CString text = proxyText();

  // The exceptions as the record carries them: with "<local>" exactly when
  // local addresses bypass the proxy.
  CString exceptions = m_StrExceptions;
  CString lower = exceptions;
  lower.MakeLower();
  const int p = lower.Find(kLocal);
  if (m_bBypassLocal == 1 && p < 0) {
    if (!exceptions.IsEmpty()) exceptions += ';';
    exceptions += kLocal;
  } else if (m_bBypassLocal == 0 && p >= 0) {
    if (p > 0) exceptions.Delete(p - 1, 8);
    else exceptions.Delete(0, 7);
    if (exceptions.GetLength() > 0 && exceptions[0] == ';') exceptions.Delete(0, 1);
  }

  const DWORD n1 = static_cast<DWORD>(text.GetLength());
  const DWORD n2 = static_cast<DWORD>(exceptions.GetLength());
  const DWORD n3 = static_cast<DWORD>(m_StrScript.GetLength());
  // A record the parser could not read back, or one that outgrows the
  // work area, is refused: as a saved copy it could never be restored.
  if (n1 >= kMaxProxyText || n2 >= kMaxExceptions || n3 >= kMaxScript || kFixedBytes + n1 + n2 + n3 > kWorkArea) {
    log.Report("$$ERROR$$", "Record too long: proxies %lu, exceptions %lu, script %lu bytes",
               static_cast<unsigned long>(n1), static_cast<unsigned long>(n2), static_cast<unsigned long>(n3));
    return 0;
  }
  const DWORD size = kFixedBytes + n1 + n2 + n3;
  std::unique_ptr<unsigned char[]> record(new (std::nothrow) unsigned char[size]);
  if (!record) {
    m_pData.reset();
    m_dwDataSize = 0;
    log.Report("$$ERROR$$", "Out of memory");
    return 0;
  }

  ++m_dwUpdateCount;
  DWORD flags = kFlagBase;
  if (m_bAutoDetect == 1) flags |= kFlagAutoDetect;
  if (m_bEnabled == 1) flags |= kFlagProxy;
  if (m_bScriptEnabled == 1) flags |= kFlagScript;
  if (m_dwSocksVersion == 4 && m_eBrowser == BROWSER_NETSCAPE) flags |= kFlagSocks4;
  m_dwFlags = flags;
  m_StrExceptions = exceptions;

  unsigned char* out = record.get();
  std::memset(out, 0, size);
  EncodeFixed32(out, m_dwVersion);
  EncodeFixed32(out + 4, m_dwUpdateCount);
  EncodeFixed32(out + 8, m_dwFlags);
  DWORD at = 12;
  for (const CString* t : {&text, static_cast<const CString*>(&exceptions), static_cast<const CString*>(&m_StrScript)}) {
    const DWORD n = static_cast<DWORD>(t->GetLength());
    EncodeFixed32(out + at, n);
    std::memcpy(out + at + 4, t->GetString(), n);
    at += 4 + n;
  }
  m_pData = std::move(record);
  m_dwDataSize = size;
  return 1;
}

BOOL CProxy::parseProxyDataIE(const unsigned char* data, DWORD size) {
  bool complete = false;
  return parseRecord(data, size, &complete);
}

BOOL CProxy::parseRecord(const unsigned char* data, DWORD size, bool* complete) {
  *complete = false;
  const std::string trace = data != nullptr ? traceBytes(data, size) : std::string("(null)");
  CDebugLog log("CProxy::parseProxyDataIE", "Data: %s", trace.c_str());
  if (data == nullptr) {
    clear();
    return 0;
  }
  if (!textsInside(data, size)) {
    log.Report("$$ERROR$$", "Record of %lu bytes cut short", static_cast<unsigned long>(size));
    return 0;
  }

  m_dwVersion = DecodeFixed32(data);
  m_dwUpdateCount = DecodeFixed32(data + 4);
  m_dwFlags = DecodeFixed32(data + 8);
  m_bAutoDetect = (m_dwFlags & kFlagAutoDetect) ? 1 : 0;
  m_bEnabled = (m_dwFlags & kFlagProxy) ? 1 : 0;
  m_bScriptEnabled = (m_dwFlags & kFlagScript) ? 1 : 0;
  m_dwSocksVersion = (m_dwFlags & kFlagSocks4) ? 4 : 5;

  const unsigned char* p = data + 12;
  const DWORD n1 = DecodeFixed32(p);
  log.Report("Status",
             "Version: %d, Update Count: %d, AutoDetect: %d, Enabled: %d, ScriptEnabled: %d, SocksVersion: %d, "
             "Size: %d",
             static_cast<int>(m_dwVersion), static_cast<int>(m_dwUpdateCount), m_bAutoDetect, m_bEnabled,
             m_bScriptEnabled, static_cast<int>(m_dwSocksVersion), static_cast<int>(n1));
  if (n1 >= kMaxProxyText) {
    log.Report("$$ERROR$$", "Size >= 2048");
    return 0;
  }
  p += 4;
  const CString proxies = fieldText(p, n1);
  log.Report("Status", "Proxies: %s", proxies.GetString());
  p += n1;

  // The exceptions, then the script: a length word below its limit and the
  // text. A text at its limit stops the parse; the texts before it stay.
  auto readText = [&](const char* sizeName, DWORD limit, const char* name, CString& out) {
    const DWORD n = DecodeFixed32(p);
    log.Report("Status", "%s Size: %d", sizeName, static_cast<int>(n));
    if (n >= limit) {
      log.Report("$$ERROR$$", "Size >= %lu", static_cast<unsigned long>(limit));
      return false;
    }
    out = fieldText(p + 4, n);
    log.Report("Status", "%s: %s", name, out.GetString());
    p += 4 + n;
    return true;
  };
  if (!readText("Exception", kMaxExceptions, "Exceptions", m_StrExceptions) ||
      !readText("Script name", kMaxScript, "Script Name", m_StrScript))
    return 0;

  // "<local>" in the exceptions is the local bypass switch of the model.
  CString lower = m_StrExceptions;
  lower.MakeLower();
  const int local = lower.Find(kLocal);
  if (local >= 0) {
    m_bBypassLocal = 1;
    m_StrExceptions.Delete(local > 0 ? local - 1 : 0, 8);
  } else {
    m_bBypassLocal = 0;
  }

  m_Protocols.RemoveAll();
  *complete = true;
  if (proxies.IsEmpty()) {
    log.Report("Status", "Proxies empty!");
    return m_bEnabled == 0 ? 1 : 0;
  }
  return parseProxyText(proxies);
}

CString CProxy::iniSection() const {
  CString section;
  if (m_hSaveRoot == HKEY_LOCAL_MACHINE) section = "HKEY_LOCAL_MACHINE\\";
  else if (m_hSaveRoot == HKEY_CURRENT_USER) section = "HKEY_CURRENT_USER\\";
  section += m_StrSaveKey;
  return section;
}

BOOL CProxy::parseProxyData(const char* text) {
  CDebugLog log("CProxy::parseProxyData", "Data: %s", text != nullptr ? text : "(null)");
  if (text == nullptr || std::strncmp(text, "hex:", 4) != 0) return 0;
  // Pairs of hexadecimal digits, each followed by a comma (after the last
  // one the comma may be missing). Anything else is not a record.
  std::array<unsigned char, kWorkArea> area{};
  DWORD count = 0;
  for (const char* p = text + 4; *p != '\0';) {
    const int hi = HexDigitValue(p[0]);
    const int lo = hi < 0 ? -1 : HexDigitValue(p[1]);
    if (lo < 0 || (p[2] != ',' && p[2] != '\0')) {
      log.Report("$$ERROR$$", "Not hexadecimal text at character %ld", static_cast<long>(p - text));
      return 0;
    }
    if (count == kWorkArea) {
      log.Report("$$ERROR$$", "More than %lu bytes", static_cast<unsigned long>(kWorkArea));
      return 0;
    }
    area[count++] = static_cast<unsigned char>(hi << 4 | lo);
    p += p[2] == ',' ? 3 : 2;
  }
  return parseProxyDataIE(area.data(), count);
}

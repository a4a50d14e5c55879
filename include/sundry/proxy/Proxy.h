#pragma once
// CProxy: the proxy settings of one browser connection.
//
// The model is neither Internet Explorer's nor Netscape's: four switches
// (manual proxy, automatic detection, automatic configuration script, bypass
// for local addresses), the script URL, an exceptions list ("a;b;"), a SOCKS
// version, the header words of Internet Explorer's connection-settings
// record, and one CProxyProtocol per protocol.
//
// What it reads and writes:
//   - Internet Explorer's connection-settings record: the REG_BINARY value
//     named after the connection under HKEY_CURRENT_USER\m_StrRKey;
//   - Netscape/Mozilla's prefs.js in the profile found below the
//     application-data folder (Mozilla\Profiles\default\<name>.slt): the
//     proxy type, script, exceptions, SOCKS version and the host and port
//     of http, ssl, ftp, gopher and socks. A rewrite changes only those
//     lines, in place (texts escaped as the browser escapes them), keeps
//     every other line byte for byte, keeps the file's permission bits and
//     owner, and writes through a symbolic link to the file it names;
//   - a saved copy of the settings, always in the record format: a
//     REG_BINARY value, or "hex:XX,XX,...," text in an INI file;
//   - a template location in the registry that the switch-over
//     (replaceBrowserWithHOLM) takes the connection's new settings from.
//
// Operations trace themselves in the debug log under "CProxy::<name>".
// No operation throws. An object serves one thread at a time.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/wintypes.h>
#include <sundry/proxy/ProxyProtocol.h>

#include <cstddef>
#include <memory>

namespace sundry::platform {
struct FileStream;
}

class SUNDRY_EXPORT CProxy {
 public:
  // Which browser the settings belong to.
  enum eBROWSER : int {
    BROWSER_UNDETERMINED = 0,  // not yet determined
    BROWSER_UNSUPPORTED = 1,   // the default browser is neither of the two below
    BROWSER_IE = 2,            // Internet Explorer
    BROWSER_NETSCAPE = 3,      // Netscape/Mozilla
  };

  // "Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
  static const CString m_StrRKey;
  // user_pref("network.proxy.   -- the prefix of every proxy preference line
  static const CString m_StrNsPrefProxy;
  // user_pref("network.proxy.%s","%s");   -- a text preference
  static const CString m_StrNsPrefAddrFmt;
  // user_pref("network.proxy.%s%s",%lu);  -- a number preference
  static const CString m_StrNsPrefPortFmt;

  CProxy();
  // Copies what operator= copies; the rest starts as after construction.
  CProxy(const CProxy& other);
  // Copies the browser kind, the switches except the script switch, the
  // connection name, script, exceptions, saved-copy location, the record
  // header words, the protocol entries (added to this object's own, each a
  // new object), the SOCKS version and the last built record. The template
  // location and the Netscape files are not copied.
  CProxy& operator=(const CProxy& other);
  ~CProxy();

  // Back to the settings after construction: switches off, saved copy under
  // HKEY_CURRENT_USER, version 60, counter 0, flags 1, SOCKS 5, no record,
  // no script, no exceptions, no protocols. The browser kind, connection
  // name, locations and Netscape state are kept.
  void clear();
  // Deletes every protocol entry.
  void removeProtocols();

  void enable(int on) { m_bEnabled = on; }
  int getEnabled() const { return m_bEnabled; }
  void autoDetect(int on) { m_bAutoDetect = on; }
  int getAutoDetect() const { return m_bAutoDetect; }
  void scriptEnable(int on) { m_bScriptEnabled = on; }
  int getScriptEnabled() const { return m_bScriptEnabled; }
  void bypassForLocal(int on) { m_bBypassLocal = on; }
  int getBypassLocal() const { return m_bBypassLocal; }
  void setSocksVersion(DWORD version) { m_dwSocksVersion = version; }
  DWORD getSocksVersion() const { return m_dwSocksVersion; }
  void setVersion(DWORD version) { m_dwVersion = version; }
  DWORD getVersion() const { return m_dwVersion; }
  void setUpdateCount(DWORD count) { m_dwUpdateCount = count; }
  DWORD getUpdateCount() const { return m_dwUpdateCount; }
  // The flags word of the last record built or parsed.
  DWORD getFlags() const { return m_dwFlags; }

  CString getScript() const { return m_StrScript; }
  // A null or empty url empties the script.
  void setScript(const char* url);
  CString getExceptions() const { return m_StrExceptions; }
  // Merges the ";"-separated list into the exceptions: entries not yet held
  // are added after the current ones, empty pieces skipped; the result is
  // each entry followed by ";". An empty list changes nothing.
  void setExceptions(const char* list);
  // The protocol entries; the caller may walk them and must not delete them.
  CProxyProtocols* getProxyList() { return &m_Protocols; }
  // The entries as the connection-settings record carries them:
  // "name=host:port" for each, joined by ";" in byte order of the names, so
  // that a list gives the same text however it was filled
  // ("ftp=f:21;http=h:80"). A list that holds the "ALL" entry gives its
  // "host:port" alone; an empty list gives "".
  CString proxyText() const;

  // Where replaceBrowserWithHOLM reads its template records.
  void setGetRegistryName(HKEY root, const char* key);
  // Where the saved copy goes: root and key, and the value name (the
  // connection name when valueName is null or empty). In an INI file the
  // root's name and the key make the section and the value name the key.
  void setSaveRegistryName(HKEY root, const char* key, const char* valueName);
  // The connection: null, "" and "_LAN_" (any case) name the local network's
  // "DefaultConnectionSettings".
  void setConnectoid(const char* name);
  CString getConnectoid() const { return m_StrConnectoid; }
  // The profile directory found by the Netscape/Mozilla side ("" if none).
  CString getNetscapeDirectory() const { return m_StrNsDirectory; }

  // Proxy of one protocol as "host:port", or as host and port. 1 when the
  // protocol has an entry, else 0 with the outputs untouched.
  BOOL getProxyForProtocol(CString& proxy, CString protocol);
  BOOL getProxyForProtocol(CString& host, DWORD& port, CString protocol);
  // Stores the proxy "host:port" (or host and port) of a protocol, making
  // the entry when there is none. 0 when the text holds no ':' (the entry
  // is stored all the same, host and port unchanged) or no entry could be
  // made.
  BOOL setProxyForProtocol(const char* proxy, CString protocol);
  BOOL setProxyForProtocol(const char* host, DWORD port, CString protocol);
  // The same for the entry "ALL" that stands for every protocol.
  BOOL getProxyForAll(CString& proxy);
  BOOL getProxyForAll(CString& host, DWORD& port);
  BOOL setProxyForAll(const char* proxy);
  BOOL setProxyForAll(const char* host, DWORD port);

  // The default browser, from the http handler's command in
  // HKEY_CLASSES_ROOT; determined again while undetermined or unsupported.
  eBROWSER getBrowser();
  // BROWSER_UNDETERMINED determines the browser (0 when it is unsupported);
  // any other kind is taken as given (1). For Netscape/Mozilla the profile
  // directory is looked up.
  BOOL setBrowser(eBROWSER kind);
  // One read of the http handler's command, the default value of
  // HKEY_CLASSES_ROOT "http\shell\open\command" (the value getBrowser
  // decides by); FALSE, command empty, when it cannot be read.
  static BOOL readHttpHandlerCommand(CString& command);

  // Reads the browser's settings into the model: the connection's record,
  // or prefs.js (only read: a running browser is left alone). 1 on success.
  BOOL getBrowserProxies();
  // Writes the model to the browser: the connection's record (only when it
  // exists), or prefs.js, after ending running Netscape processes so that
  // they cannot write their own file over it. 1 on success.
  BOOL setBrowserProxies();
  // Turns the browser's manual proxy on or off (ending running Netscape
  // processes before prefs.js is read); 0 when the settings cannot be read
  // or already are so.
  BOOL useBrowserProxies(int enable);

  // The saved copy in the registry: the model as a record under the
  // saved-copy location (value name: the saved-copy name, the connection's
  // when empty), and back into the model.
  BOOL saveToRegistry();
  BOOL loadSavedProxies();
  // The saved copy in an INI file, as "hex:" text.
  BOOL saveToINIFile(CString& iniFile);
  BOOL loadSavedProxies(const char* iniFile);
  // Puts the saved copy of the connection back into the browser and deletes
  // it (an empty saved copy deletes the browser's record).
  BOOL savedSettingsToBrowser();
  // Deletes the saved copy of the connection.
  BOOL removeFromRegistry();
  // The switch-over: saves the browser's settings as the saved copy (a
  // saved copy that is already there is kept) and gives the browser the
  // template's settings. Nothing is saved when the browser's settings
  // cannot be read (a prefs.js that cannot be opened or read), and a
  // switch-over that fails removes the saved copy it made, so that a later
  // switch-over cannot take it for the user's settings.
  BOOL replaceBrowserWithHOLM();

 private:
  friend class CProxyTestPeer;  // the unit tests reach the record codec

  // The connection-settings record.
  BOOL buildProxyDataIE();
  BOOL parseProxyDataIE(const unsigned char* data, DWORD size);
  // As parseProxyDataIE; *complete tells whether the whole record was read
  // (false when it was refused or a text was too long).
  BOOL parseRecord(const unsigned char* data, DWORD size, bool* complete);
  // The "hex:" text of the INI form.
  BOOL parseProxyData(const char* text);
  CString iniSection() const;
  // The protocol names in the order every walk of the list takes: byte
  // order of the names, so that a list gives the same text and the same
  // preference lines however it was filled.
  void sortedProtocolNames(CStringArray& names) const;
  BOOL parseProxyText(const CString& text);

  // Browser detection and prefs.js.
  eBROWSER determineBrowser();
  BOOL determineNetscapeDirectory();
  // Mode 0: prefs.js for reading before a rewrite, running Netscape
  // processes ended first; 1: prefs.scm for writing; 2: prefs.js for
  // reading only.
  int openNetscapeFile(int mode);
  void closeNetscapeFile(int mode);
  // *read (when given) tells whether the file could be read at all.
  BOOL parseProxyDataNs(sundry::platform::FileStream* file, bool* read = nullptr);
  // Opens and parses prefs.js (mode 0 with endBrowser, else 2). *readable
  // is true when the settings were read, also from a profile without
  // prefs.js, and false when there is no profile or prefs.js is there but
  // cannot be opened or read.
  BOOL readNetscapeSettings(bool endBrowser, bool* readable);
  // The preference lines of a prefs.js held in memory.
  BOOL parsePrefsText(const char* text, size_t length);
  BOOL writeNewNSPrefsFile();

  // Finds or makes the entry of a protocol; null when none can be made.
  CProxyProtocol* entryFor(const CString& protocol);

  eBROWSER m_eBrowser;
  int m_bEnabled;
  int m_bAutoDetect;
  int m_bBypassLocal;
  int m_bScriptEnabled;
  CString m_StrConnectoid;
  CString m_StrScript;
  CString m_StrExceptions;
  CString m_StrNsWriteFile;
  CString m_StrNsReadFile;
  HKEY m_hGetRoot;
  CString m_StrGetKey;
  HKEY m_hSaveRoot;
  CString m_StrSaveKey;
  CString m_StrSaveValue;
  CString m_StrNsDirectory;
  sundry::platform::FileStream* m_pNsReadFile;
  sundry::platform::FileStream* m_pNsWriteFile;
  DWORD m_dwVersion;
  DWORD m_dwUpdateCount;
  DWORD m_dwFlags;
  DWORD m_dwSocksVersion;
  DWORD m_dwDataSize;
  std::unique_ptr<unsigned char[]> m_pData;
  CProxyProtocols m_Protocols;
};

// Reading and writing the browser's settings, the saved copy in the
// registry and in INI files, the restore, and the switch-over to a template.
//
// Every saved copy is a connection-settings record, whichever browser it
// came from. Locations:
//   browser (Internet Explorer): HKEY_CURRENT_USER\m_StrRKey, value named
//     after the connection;
//   saved copy: m_hSaveRoot\m_StrSaveKey, value m_StrSaveValue or the
//     connection's name (see each operation); in an INI file the section is
//     the root's name and the key, the INI key the saved-copy name;
//   template: m_hGetRoot\m_StrGetKey, values named after the connection, or
//     "ANY", "NONE" and "KeepExceptions".

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/profile.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/registry/RegistryValue.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

// The INI text holds at most this many characters (and so 1,705 bytes).
constexpr DWORD kIniBuffer = 5120;
constexpr DWORD kIniMaxRecord = (kIniBuffer - 1 - 4) / 3;

const unsigned char* bytes(const void* p) { return static_cast<const unsigned char*>(p); }

// Deletes a value; false when it cannot be opened or deleted.
bool removeValue(HKEY root, const CString& key, const CString& name) {
  CRegistryValue value;
  return value.initialize(root, key, name, nullptr, 0, 0, 1) && value.removeValue();
}

}  // namespace

BOOL CProxy::getBrowserProxies() {
  CDebugLog log("CProxy::getBrowserProxies");
  if (m_eBrowser == BROWSER_UNDETERMINED || m_eBrowser == BROWSER_UNSUPPORTED) getBrowser();
  if (m_eBrowser == BROWSER_IE) {
    CRegistryValue record;
    if (!record.initialize(HKEY_CURRENT_USER, m_StrRKey, m_StrConnectoid, nullptr, 0, 0, 1)) return 0;
    const void* data = record.getBinary();
    if (data == nullptr) return 0;
    return parseProxyDataIE(bytes(data), record.getSize());
  }
  if (m_eBrowser == BROWSER_NETSCAPE) {
    // Only a read: the browser is ended before a rewrite, not here.
    bool readable = false;
    return readNetscapeSettings(false, &readable);
  }
  return 0;
}

BOOL CProxy::setBrowserProxies() {
  CDebugLog log("CProxy::setBrowserProxies");
  if (m_eBrowser == BROWSER_IE) {
    if (buildProxyDataIE() != 1 || m_dwDataSize == 0) return 0;
    CRegistryValue record;
    if (!record.initialize(HKEY_CURRENT_USER, m_StrRKey, m_StrConnectoid, nullptr, 0, 0, 1)) return 0;
    return record.setBinary(m_pData.get(), m_dwDataSize);
  }
  if (m_eBrowser == BROWSER_NETSCAPE) return writeNewNSPrefsFile();
  return 0;
}

BOOL CProxy::useBrowserProxies(int enable) {
  BOOL read;
  if (m_eBrowser == BROWSER_UNDETERMINED || m_eBrowser == BROWSER_UNSUPPORTED) getBrowser();
  if (m_eBrowser == BROWSER_NETSCAPE) {
    // A rewrite may follow: the browser is ended before prefs.js is read.
    bool readable = false;
    read = readNetscapeSettings(true, &readable);
  } else {
    read = getBrowserProxies();
  }
  if (read == 1 && m_bEnabled != enable) {
    m_bEnabled = enable;
    return setBrowserProxies();
  }
  return 0;
}

BOOL CProxy::saveToRegistry() {
  CDebugLog log("CProxy::saveToRegistry");
  if (buildProxyDataIE() != 1) return 0;
  if (m_StrSaveValue.IsEmpty()) m_StrSaveValue = m_StrConnectoid;
  CRegistryValue saved;
  if (!saved.initialize(m_hSaveRoot, m_StrSaveKey, m_StrSaveValue, nullptr, 0, 1, 1)) return 0;
  return saved.setBinary(m_pData.get(), m_dwDataSize);
}

BOOL CProxy::loadSavedProxies() {
  CDebugLog log("CProxy::loadSavedProxies");
  if (m_StrSaveValue.IsEmpty()) m_StrSaveValue = m_StrConnectoid;
  log.Report("Status", "Key Name: %s, Value Name: %s", m_StrSaveKey.GetString(), m_StrSaveValue.GetString());
  CRegistryValue saved;
  if (!saved.initialize(m_hSaveRoot, m_StrSaveKey, m_StrSaveValue, nullptr, 0, 0, 1)) {
    log.Report("$$ERROR$$", "Key read failed.");
    return 0;
  }
  log.Report("Status", "Key read.");
  if (saved.getBinary() == nullptr) {
    log.Report("Status", "Value empty.");
    return 0;
  }
  const BOOL parsed = parseProxyDataIE(bytes(saved.getBinary()), saved.getSize());
  log.Report("Status", "Value parsed: %d.", parsed);
  return parsed;
}

BOOL CProxy::saveToINIFile(CString& iniFile) {
  CDebugLog log("CProxy::saveToINIFile", "%s", iniFile.GetString());
  if (buildProxyDataIE() != 1) return 0;
  // A longer record would not fit the text the loader reads back.
  if (m_dwDataSize > kIniMaxRecord) {
    log.Report("$$ERROR$$", "Record of %lu bytes too long for an INI file", static_cast<unsigned long>(m_dwDataSize));
    return 0;
  }
  CString text = "hex:";
  for (DWORD i = 0; i < m_dwDataSize; ++i) text.AppendFormat("%02X,", m_pData[i]);
  return WritePrivateProfileStringA(iniSection(), m_StrSaveValue, text, iniFile) != 0 ? 1 : 0;
}

BOOL CProxy::loadSavedProxies(const char* iniFile) {
  CDebugLog log("CProxy::loadSavedProxies", "%s", iniFile != nullptr ? iniFile : "(null)");
  const CString section = iniSection();
  log.Report("Status", "%s", section.GetString());
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kIniBuffer]);
  if (!buffer) return 0;
  GetPrivateProfileStringA(section, m_StrSaveValue, "00", buffer.get(), kIniBuffer, iniFile);
  if (std::strncmp(buffer.get(), "hex:", 4) != 0) return 0;
  return parseProxyData(buffer.get());
}

BOOL CProxy::savedSettingsToBrowser() {
  CDebugLog log("CProxy::savedSettingsToBrowser");
  CRegistryValue saved;
  saved.setRemainOpen(TRUE);
  const BOOL opened = saved.initialize(m_hSaveRoot, m_StrSaveKey, m_StrConnectoid, nullptr, 0, 0, 1);
  if (!opened) return opened;
  const void* data = saved.getBinary();
  const DWORD size = saved.getSize();
  const bool emptyCopy = data == nullptr && size == 0;

  if (m_eBrowser == BROWSER_IE) {
    CRegistryValue browser;
    if (emptyCopy) browser.setRemainOpen(TRUE);
    const BOOL found = browser.initialize(HKEY_CURRENT_USER, m_StrRKey, m_StrConnectoid, nullptr, 0, 0, 1);
    if (found && data != nullptr && size > 0) {
      const BOOL result = browser.setBinary(data, size);
      if (result == 1) saved.removeValue();
      return result;
    }
    if (found) {
      // The connection had no settings of its own before: take them away.
      if (browser.removeValue()) saved.removeValue();
      return 1;
    }
    if (emptyCopy) saved.removeValue();
    return found;
  }
  if (m_eBrowser == BROWSER_NETSCAPE) {
    if (data == nullptr || size == 0) return 1;
    bool complete = false;
    parseRecord(bytes(data), size, &complete);
    if (!complete) {
      // A damaged saved copy is left where it is; prefs.js stays as it is.
      log.Report("$$ERROR$$", "Saved copy unreadable %s\\%s", m_StrSaveKey.GetString(), m_StrConnectoid.GetString());
      return 0;
    }
    const BOOL result = writeNewNSPrefsFile();
    if (result == 1) saved.removeValue();
    return result;
  }
  return 1;
}

BOOL CProxy::removeFromRegistry() {
  CDebugLog log("CProxy::removeFromRegistry");
  CRegistryValue saved;
  const BOOL opened = saved.initialize(m_hSaveRoot, m_StrSaveKey, m_StrConnectoid, nullptr, 0, 0, 1);
  if (!opened) return opened;
  return saved.removeValue();
}

BOOL CProxy::replaceBrowserWithHOLM() {
  CDebugLog log("CProxy::replaceBrowserWithHOLM");
  CRegistryValue tmpl;
  BOOL result = tmpl.initialize(m_hGetRoot, m_StrGetKey, m_StrConnectoid, nullptr, 0, 0, 1);
  BOOL keepExceptions = 0;
  CRegistryValue none;
  const unsigned char* initData = nullptr;
  DWORD initSize = 0;
  if (!result) {
    result = tmpl.initialize(m_hGetRoot, m_StrGetKey, "ANY", nullptr, 0, 0, 1);
    CRegistryValue keep;
    keep.initialize(m_hGetRoot, m_StrGetKey, "KeepExceptions", static_cast<DWORD>(1), 1, 1);
    if (!result) return result;
    if (!none.initialize(m_hGetRoot, m_StrGetKey, "NONE", nullptr, 0, 0, 1)) return 0;
    initData = bytes(none.getBinary());
    initSize = none.getSize();
    keepExceptions = keep.getBOOL();
  }
  const unsigned char* t = bytes(tmpl.getBinary());
  const DWORD tSize = tmpl.getSize();

  if (m_eBrowser == BROWSER_IE) {
    CRegistryValue browser;
    result = browser.initialize(HKEY_CURRENT_USER, m_StrRKey, m_StrConnectoid, initData, initSize, 1, 1);
    if (!result) {
      log.Report("$$ERROR$$", "Could not open / create %s\\%s", m_StrRKey.GetString(), m_StrConnectoid.GetString());
      return result;
    }
    log.Report("Status", "Browser proxy initialized %s\\%s", m_StrRKey.GetString(), m_StrConnectoid.GetString());
    const unsigned char* cur = bytes(browser.getBinary());
    const DWORD curSize = browser.getSize();

    bool remembered = false;
    CString keptExceptions;
    int keptBypass = 0;
    if (cur != nullptr && curSize > 0 && keepExceptions) {
      // Start from nothing, so that a record refused half-way brings no
      // exceptions of an earlier use of this object.
      m_StrExceptions.Empty();
      m_bBypassLocal = 0;
      parseProxyDataIE(cur, curSize);
      keptExceptions = getExceptions();
      keptBypass = getBypassLocal();
      remembered = true;
    }

    // The saved copy. One that is already there holds the settings from
    // before an earlier switch-over, which this browser record has already
    // replaced: it is kept, or the user's own settings would be lost.
    CRegistryValue saved;
    result = saved.initialize(m_hSaveRoot, m_StrSaveKey, m_StrConnectoid, cur, curSize, 1, 1);
    // A saved copy made here goes again when the switch-over fails: a later
    // switch-over would keep it as the user's settings.
    const bool madeCopy = result && saved.getState() != 2;
    auto undo = [&]() {
      if (madeCopy) saved.removeValue();
      if (cur == nullptr) browser.removeValue();
    };
    if (result && saved.getState() == 2) {
      log.Report("Status", "Saved copy kept %s\\%s", m_StrSaveKey.GetString(), m_StrConnectoid.GetString());
    } else if (result) {
      result = saved.setBinary(cur, curSize);
    }
    if (result != 1) {
      log.Report("$$ERROR$$", "Failed to save binary data to %s\\%s", m_StrSaveKey.GetString(),
                 m_StrConnectoid.GetString());
      undo();
      return result;
    }

    const unsigned char* fresh = t;
    DWORD freshSize = tSize;
    if (t != nullptr && keepExceptions) {
      bool complete = false;
      parseRecord(t, tSize, &complete);
      if (!complete) {
        log.Report("$$ERROR$$", "Template unreadable %s\\%s", m_StrGetKey.GetString(), m_StrConnectoid.GetString());
        undo();
        return 0;
      }
      if (remembered) {
        bypassForLocal(keptBypass);
        setExceptions(keptExceptions);
      }
      if (buildProxyDataIE() != 1) {
        log.Report("$$ERROR$$", "Failed to save binary data to %s\\%s", m_StrRKey.GetString(),
                   m_StrConnectoid.GetString());
        undo();
        return 0;
      }
      fresh = m_pData.get();
      freshSize = m_dwDataSize;
    }
    result = browser.setBinary(fresh, freshSize);
    if (result == 1) {
      log.Report("Status", "Success! %s\\%s", m_StrRKey.GetString(), m_StrConnectoid.GetString());
    } else {
      log.Report("$$ERROR$$", "Failed to save binary data to %s\\%s", m_StrRKey.GetString(),
                 m_StrConnectoid.GetString());
      undo();
    }
    return result;
  }

  if (m_eBrowser == BROWSER_NETSCAPE) {
    // The browser is ended before prefs.js is read, as a rewrite follows.
    bool readable = false;
    readNetscapeSettings(true, &readable);
    if (m_StrNsDirectory.IsEmpty()) {
      // No profile: nothing to save and nothing to switch.
      log.Report("$$ERROR$$", "No Netscape/Mozilla profile");
      return 0;
    }
    if (!readable) {
      // Settings that could not be read must not become the saved copy.
      log.Report("$$ERROR$$", "Cannot read %s", m_StrNsReadFile.GetString());
      closeNetscapeFile(0);
      return 0;
    }
    const CString keptExceptions = getExceptions();
    const int keptBypass = getBypassLocal();

    if (m_StrSaveValue.IsEmpty()) m_StrSaveValue = m_StrConnectoid;
    bool madeCopy = false;
    auto fail = [&]() {
      closeNetscapeFile(0);
      // The saved copy made here goes again: a later switch-over would keep
      // it as the user's settings.
      if (madeCopy) removeValue(m_hSaveRoot, m_StrSaveKey, m_StrSaveValue);
      return 0;
    };
    CRegistryValue existing;
    if (existing.initialize(m_hSaveRoot, m_StrSaveKey, m_StrSaveValue, nullptr, 0, 0, 0)) {
      log.Report("Status", "Saved copy kept %s\\%s", m_StrSaveKey.GetString(), m_StrSaveValue.GetString());
    } else {
      buildProxyDataIE();
      madeCopy = true;
      if (saveToRegistry() != 1) {
        log.Report("$$ERROR$$", "Failed to save binary data to %s\\%s", m_StrSaveKey.GetString(),
                   m_StrSaveValue.GetString());
        return fail();
      }
    }
    if (t != nullptr) {
      bool complete = false;
      parseRecord(t, tSize, &complete);
      if (!complete) {
        log.Report("$$ERROR$$", "Template unreadable %s\\%s", m_StrGetKey.GetString(), m_StrConnectoid.GetString());
        return fail();
      }
      if (keepExceptions) {
        bypassForLocal(keptBypass);
        setExceptions(keptExceptions);
      }
    }
    if (writeNewNSPrefsFile() == 0) return fail();
    return 1;
  }
  return result;
}

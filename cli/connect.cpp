// sundry connect: the whole road of a dial-up connection. The client dials
// out, switches the browser's proxy settings and the DNS suffix search list
// over to the connection, copies its update folder, records the session in
// a record log and writes a system report; when the line drops everything
// is put back.
//
//   sundry connect demo
//       The whole road on a temporary home (registry store, application-data
//       folder, resolver file, COM map, log, folders) against the modem
//       simulator; nothing of the user's is touched. Exit 0 only when every
//       check at the end holds.
//   sundry connect up --port P --connection NAME --template KEY
//       [--dial NUMBER] [--init LIST] [--timing MS] [--browser ie|mozilla]...
//       [--resolv FILE] [--suffix S]... [--update-from DIR --update-to DIR
//       --archive DIR] [--log FILE] [--report FILE.rtf] [--text]
//       Dials, makes the changes, then holds the line (the port stays open)
//       until SIGINT, SIGTERM or SIGHUP, or `connect down`; then hangs up,
//       puts everything back and exits 0. A failure on the way puts back
//       what was done and exits 1. The browser is the one the http handler
//       names unless --browser says otherwise.
//   sundry connect down
//       Ends a holding `up` (SIGTERM, then waits for it to put everything
//       back), or, when `up` was killed, puts back whatever the kept state
//       lists. Exit 0 when nothing is left to put back, also when no state
//       was kept at all (down is idempotent); 1 when something could not be
//       put back (the state stays for another try).
//
// The state lives in the registry store under HKCU\Software\Sundry\Connection
// State, each entry written before the change it stands for, so that `down`
// after a kill at any point restores completely: the browsers' saved copies
// (kept there as well), the search list before the change, the update's
// folders (an update that did not finish is rolled back from its archive;
// a finished one stays), and the session's key in the record log (its end
// is filled in). The environment (SUNDRY_REGISTRY, SUNDRY_APPDATA) must be
// the same for `up` and `down`; the resolver file is kept in the state.
//
// The environment variable SUNDRY_CONNECT_CRASH_AT names a point of `up`
// ("before-proxy-ie", "update-copied", "after-dns", ...) where it kills itself: a test seam for
// a process killed half-way.

#include "commands.h"

#include <sundry/copy/CopyFileController.h>
#include <sundry/logdb/LogDB.h>
#include <sundry/platform/error.h>
#include <sundry/platform/process.h>
#include <sundry/platform/registry.h>
#include <sundry/platform/sync.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/registry/RegFile.h>
#include <sundry/serial/Modem.h>
#include <sundry/serial/ModemSimulator.h>
#include <sundry/sysinfo/DNSSuffixUtil.h>
#include <sundry/sysinfo/GeneralSysInfo.h>
#include <sundry/sysinfo/RtfText.h>
#include <sundry/util/MutexSimple.h>

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace sundry::cli {

// The files of data/connect, carried inside the tool (connect_data.cpp).
struct EmbeddedFile {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
extern const EmbeddedFile kConnectData[];

namespace {

namespace fs = std::filesystem;

constexpr char kStateKey[] = "Software\\Sundry\\Connection State";
constexpr char kHolderMutex[] = "Sundry connection";
constexpr char kConnectionsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The session record of the record log.
constexpr char kLogType[] = "CONN";
constexpr unsigned kLogVersion = 1;
constexpr LONG kLogCapacity = 64;
struct SessionRecord {
  static constexpr LONG kSize = 96;
  static constexpr LONG kKeyOffset = 4, kKeySize = 12;  // start and process id
  uint32_t stamp = 0;
  int64_t start = 0, end = 0;  // seconds since 1970; end 0 while the line is up
  uint32_t pid = 0, speed = 0;
  std::string connection, port;

  void encode(unsigned char* out) const {
    std::memset(out, 0, kSize);
    auto put = [&](int at, uint64_t v, int n) {
      for (int i = 0; i < n; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(0, stamp, 4);
    put(4, static_cast<uint64_t>(start), 8);
    put(12, pid, 4);
    put(16, static_cast<uint64_t>(end), 8);
    put(24, speed, 4);
    std::memcpy(out + 32, connection.data(), std::min<size_t>(connection.size(), 39));
    std::memcpy(out + 72, port.data(), std::min<size_t>(port.size(), 23));
  }
  static SessionRecord decode(const unsigned char* in) {
    auto get = [&](int at, int n) {
      uint64_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = (v << 8) | in[at + i];
      return v;
    };
    SessionRecord r;
    r.stamp = static_cast<uint32_t>(get(0, 4));
    r.start = static_cast<int64_t>(get(4, 8));
    r.pid = static_cast<uint32_t>(get(12, 4));
    r.end = static_cast<int64_t>(get(16, 8));
    r.speed = static_cast<uint32_t>(get(24, 4));
    r.connection.assign(reinterpret_cast<const char*>(in + 32), strnlen(reinterpret_cast<const char*>(in + 32), 39));
    r.port.assign(reinterpret_cast<const char*>(in + 72), strnlen(reinterpret_cast<const char*>(in + 72), 23));
    return r;
  }
};

struct ConnectOptions {
  std::string port, connection, templateKey, dial = "T5550100", init = "[Z][E0]";
  std::string resolv, updateFrom, updateTo, archive, log, report;
  std::vector<std::string> suffixes, browsers;
  unsigned long timing = 125;
  bool text = false;
};

std::string timeText(int64_t t) {
  if (t == 0) return "(line up)";
  char text[32];
  const time_t tt = static_cast<time_t>(t);
  struct tm tmv;
  localtime_r(&tt, &tmv);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tmv);
  return text;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// The state kept between up and down, in the registry store.

class State {
 public:
  bool exists() const {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStateKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
  }
  void set(const char* name, const std::string& value) { write(name, REG_SZ, value.c_str(), value.size() + 1); }
  void set(const char* name, DWORD value) { write(name, REG_DWORD, &value, sizeof value); }
  std::optional<std::string> text(const char* name) const {
    std::string out;
    DWORD type = 0;
    if (!read(name, &type, &out) || type != REG_SZ) return std::nullopt;
    if (!out.empty() && out.back() == '\0') out.pop_back();
    return out;
  }
  std::optional<DWORD> number(const char* name) const {
    std::string out;
    DWORD type = 0;
    if (!read(name, &type, &out) || type != REG_DWORD || out.size() != 4) return std::nullopt;
    DWORD v = 0;
    std::memcpy(&v, out.data(), 4);
    return v;
  }
  void remove(const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStateKey, 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return;
    RegDeleteValueA(h, name);
    RegCloseKey(h);
  }
  // The whole state, saved copies included.
  bool erase() {
    const LONG rc = RegDeleteTreeA(HKEY_CURRENT_USER, kStateKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
  }
  static std::string savedCopyKey(CProxy::eBROWSER kind) {
    return std::string(kStateKey) + (kind == CProxy::BROWSER_IE ? "\\Saved Proxy\\Internet Explorer"
                                                                 : "\\Saved Proxy\\Mozilla");
  }

 private:
  void write(const char* name, DWORD type, const void* data, size_t size) {
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, kStateKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
      RegCloseKey(h);
    }
    if (rc != ERROR_SUCCESS) {
      const char* why = sundry::platform::ErrorText(static_cast<DWORD>(rc));
      throw Failure{std::string("cannot keep the connection state (") + name + ") in the registry store: " +
                    (why != nullptr ? why : "unknown error")};
    }
  }
  bool read(const char* name, DWORD* type, std::string* out) const {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStateKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(h, name, nullptr, type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
      out->assign(size, '\0');
      rc = RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(out->data()), &size);
      out->resize(size);
    }
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
  }
};

// "ie,mozilla": the browsers whose switch-over has begun.
std::vector<CProxy::eBROWSER> browsersIn(const std::string& list) {
  std::vector<CProxy::eBROWSER> out;
  if (list.find("ie") != std::string::npos) out.push_back(CProxy::BROWSER_IE);
  if (list.find("mozilla") != std::string::npos) out.push_back(CProxy::BROWSER_NETSCAPE);
  return out;
}
const char* browserWord(CProxy::eBROWSER b) { return b == CProxy::BROWSER_IE ? "ie" : "mozilla"; }
const char* browserName(CProxy::eBROWSER b) {
  return b == CProxy::BROWSER_IE ? "Internet Explorer" : "Netscape/Mozilla";
}

// Kills the process at the point SUNDRY_CONNECT_CRASH_AT names.
void checkpoint(const char* point) {
  const char* at = std::getenv("SUNDRY_CONNECT_CRASH_AT");
  if (at != nullptr && std::strcmp(at, point) == 0) {
    std::fflush(stdout);
    ::raise(SIGKILL);
  }
}

// ---------------------------------------------------------------------------
// The steps of the road. A Session is one process's part of it: it makes
// the changes (up) or puts them back (down), with the state in between.

// What the copy worker reports, printed as it comes.
struct CopyProgress {
  std::atomic<bool> counted{false};
  std::atomic<bool> finished{false};
  std::atomic<int> lastCode{1};
};
CopyProgress g_copy;

int onCopyEvent(int code, const char* name, int64_t size, long count) {
  switch (code) {
    case CCopyFileController::CB_COUNTED:
      say("    %ld file(s), %" PRId64 " bytes to copy\n", count, size);
      break;
    case CCopyFileController::CB_ARCHIVED: say("    [%ld] archived the former %s\n", count, name); break;
    case CCopyFileController::CB_ARCHIVE_FAILED: say("    [%ld] could not archive %s\n", count, name); break;
    case CCopyFileController::CB_COPIED:
      say("    [%ld] copied %s (%" PRId64 " bytes)\n", count, name, size);
      checkpoint("update-copied");
      break;
    case CCopyFileController::CB_COPY_FAILED: say("    [%ld] could not copy %s\n", count, name); break;
    case CCopyFileController::CB_RESTORED: say("    put back %s from the archive\n", name); break;
    case CCopyFileController::CB_RESTORE_FAILED: say("    could not put back %s\n", name); break;
    default: break;
  }
  // The first 1 or 2 ends the counting; the next 0 or 1 ends the job.
  if (!g_copy.counted && (code == CCopyFileController::CB_FAILED || code == CCopyFileController::CB_COUNTED)) {
    g_copy.counted = true;
  } else if (code == CCopyFileController::CB_DONE || code == CCopyFileController::CB_FAILED) {
    g_copy.lastCode = code;
    g_copy.finished = true;
  }
  return 0;
}

// One copy job of every file of source into destination; archive, when
// given, keeps the files it overwrites. True when the job succeeded.
bool runCopyJob(const std::string& source, const std::string& destination, const std::string& archive) {
  std::unique_ptr<CObject> object(CRuntimeClass::CreateObject("CCopyFileController"));
  auto* controller = dynamic_cast<CCopyFileController*>(object.get());
  if (controller == nullptr) throw Failure{"the copy controller cannot be created"};
  controller->setCopyDir(source.c_str(), destination.c_str());
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  controller->setCreateDir(1);
  if (!archive.empty()) controller->setArchiveDir(archive.c_str(), 1);
  controller->setCallbackFn(&onCopyEvent);
  g_copy.counted = false;
  g_copy.finished = false;
  g_copy.lastCode = 1;
  if (!controller->CreateThread() || !controller->PostThreadMessage(WM_COPYFILES, 0, 0))
    throw Failure{"the copy thread cannot be started"};
  while (!g_copy.finished) Sleep(20);
  object.reset();  // stops the thread and waits for it
  return g_copy.lastCode == CCopyFileController::CB_DONE;
}

class Session {
 public:
  explicit Session(State& state) : m_state(state) {}

  // -- up ------------------------------------------------------------------

  void dial(const ConnectOptions& o) {
    say("\n== Dial: %s on %s ==\n", o.connection.c_str(), o.port.c_str());
    m_state.set("Port", o.port);
    m_state.set("Connection", o.connection);
    checkpoint("before-dial");
    m_modem = std::make_unique<CModem>();
    m_modem->setResponseTiming(o.timing);
    m_modem->setInitCommands(o.init.c_str());
    const CModem::eERROR rc = m_modem->init(o.port.c_str(), nullptr);
    if (rc == CModem::eOpenFailed) throw Failure{"cannot open " + o.port + " (missing, busy or not a port)"};
    if (rc != CModem::eOK && rc != CModem::eNoInitCommands)
      throw Failure{"the modem on " + o.port + " did not answer OK to the init commands " + o.init};
    say("  Init %s: OK\n", o.init.c_str());
    CString answer;
    if (m_modem->commandResponse(CString(("D" + o.dial).c_str()), answer, 0) != CModem::eOK)
      throw Failure{"ATD" + o.dial + ": no answer from the modem"};
    const std::string text = answer.GetString();
    const size_t at = text.find("CONNECT");
    if (at == std::string::npos) {
      std::string line = text;
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.erase(0, 1);
      throw Failure{"ATD" + o.dial + ": the modem answered " + (line.empty() ? "nothing" : line)};
    }
    m_speed = static_cast<uint32_t>(std::strtoul(text.c_str() + at + 7, nullptr, 10));
    m_state.set("Speed", static_cast<DWORD>(m_speed));
    say("  ATD%s: CONNECT%s\n", o.dial.c_str(), m_speed != 0 ? (" " + std::to_string(m_speed)).c_str() : "");
    checkpoint("after-dial");
  }

  void switchProxies(const ConnectOptions& o, const std::vector<CProxy::eBROWSER>& browsers) {
    HKEY root = nullptr;
    std::string key;
    if (!sundry::registry::ParseKeyPath(o.templateKey, &root, &key) || key.empty())
      throw Failure{"not a registry key for --template: " + o.templateKey, kUsage};
    std::string begun = m_state.text("Browsers").value_or("");
    for (CProxy::eBROWSER kind : browsers) {
      say("\n== Proxy: %s, connection %s ==\n", browserName(kind), o.connection.c_str());
      CProxy p;
      prepare(p, kind, o.connection);
      p.setGetRegistryName(root, key.c_str());
      show(kind, o.connection, "Before");
      begun += std::string(begun.empty() ? "" : ",") + browserWord(kind);
      m_state.set("Browsers", begun);
      checkpoint(kind == CProxy::BROWSER_IE ? "before-proxy-ie" : "before-proxy-mozilla");
      if (p.replaceBrowserWithHOLM() != 1)
        throw Failure{std::string("could not switch ") + browserName(kind) + " over to " + o.templateKey};
      show(kind, o.connection, "Switched over");
      checkpoint(kind == CProxy::BROWSER_IE ? "after-proxy-ie" : "after-proxy-mozilla");
    }
  }

  void setSuffixes(const ConnectOptions& o) {
    say("\n== DNS suffix search list (%s) ==\n", sundry::platform::ResolverConfPath().c_str());
    CStringArray list, before;
    for (const std::string& s : o.suffixes) {
      if (!CDNSSuffixUtil::isDNSName(s.c_str())) throw Failure{"not a DNS name: \"" + s + "\"", kUsage};
      list.Add(CString(s));
    }
    CDNSSuffixUtil util;
    if (util.getDNSSuffixList(before) != CDNSSuffixUtil::eOK)
      throw Failure{"cannot read the search list from " + sundry::platform::ResolverConfPath()};
    m_state.set("Resolver", sundry::platform::ResolverConfPath());
    m_state.set("Suffixes", joined(before));
    checkpoint("before-dns");
    if (util.setSuffixes(list) != CDNSSuffixUtil::eOK)
      throw Failure{"cannot write the search list to " + sundry::platform::ResolverConfPath()};
    say("  Before:        %s\n  Now:           %s\n", shown(before).c_str(), shown(list).c_str());
    checkpoint("after-dns");
  }

  void update(const ConnectOptions& o) {
    say("\n== Update: %s -> %s (archive %s) ==\n", o.updateFrom.c_str(), o.updateTo.c_str(), o.archive.c_str());
    std::error_code ec;
    if (!fs::is_directory(o.updateFrom, ec)) throw Failure{"no update folder " + o.updateFrom};
    // The archive must hold nothing but this job's files: a roll-back puts
    // back all it holds.
    if (fs::exists(o.archive, ec) && !fs::is_empty(o.archive, ec))
      throw Failure{"the archive folder " + o.archive + " is not empty"};
    m_state.set("Update From", o.updateFrom);
    m_state.set("Update To", o.updateTo);
    m_state.set("Update Archive", o.archive);
    checkpoint("before-update");
    if (!runCopyJob(o.updateFrom, o.updateTo, o.archive))
      throw Failure{"the update could not be copied (the overwritten files were put back)"};
    m_state.set("Update Done", static_cast<DWORD>(1));
    say("  The update is in place.\n");
    checkpoint("after-update");
  }

  void record(const ConnectOptions& o) {
    say("\n== Session record: %s ==\n", o.log.c_str());
    SessionRecord r;
    r.start = static_cast<int64_t>(std::time(nullptr));
    r.pid = GetCurrentProcessId();
    r.speed = m_speed;
    r.connection = o.connection;
    r.port = o.port;
    m_state.set("Log", o.log);
    m_state.set("Session", sessionKey(r));
    checkpoint("before-log");
    CLogDB db;
    openLog(db, o.log);
    unsigned char data[SessionRecord::kSize];
    r.encode(data);
    const int rc = db.setRecord(data, 0, -1);
    if (rc != 0) throw Failure{o.log + ": the session record could not be appended (" + std::to_string(rc) + ")"};
    db.close();
    showLog(o.log);
    checkpoint("after-log");
  }

  void report(const ConnectOptions& o) {
    say("\n== System report: %s ==\n", o.report.c_str());
    CGeneralSysInfo info;
    std::string body = "Connection:\t" + sundry::sysinfo::RtfEscape(o.connection) + "\\par\n";
    body += "Port:\t" + sundry::sysinfo::RtfEscape(o.port) + "\\par\n";
    body += "Speed:\t" + std::to_string(m_speed) + " bps\\par\n";
    body += "Started:\t" + timeText(static_cast<int64_t>(std::time(nullptr))) + "\\par\\par\n";
    body += info.obtainFormattedSysInfo();
    const std::string rtf = sundry::sysinfo::RtfDocument(body) + "\n";
    std::ofstream out(o.report, std::ios::binary | std::ios::trunc);
    out << rtf;
    out.flush();
    if (!out) throw Failure{"cannot write " + o.report};
    say("  %zu bytes of RTF written\n", rtf.size());
    if (o.text) say("%s\n", sundry::sysinfo::RtfBodyToText(body).c_str());
    checkpoint("after-report");
  }

  CModem* modem() { return m_modem.get(); }

  // -- down ----------------------------------------------------------------

  // Puts back what the state lists, each part once and only once; true
  // when nothing is left, and the state is then gone.
  bool restore() {
    bool ok = true;
    if (m_modem) {
      say("\n== Hang up ==\n");
      m_modem->close();
      m_modem.reset();
      say("  The port is closed.\n");
    }
    ok = restoreProxies() && ok;
    ok = restoreSuffixes() && ok;
    ok = rollBackUpdate() && ok;
    ok = endRecord() && ok;
    if (ok) ok = m_state.erase();
    return ok;
  }

  // The browser's settings now, one line each.
  static void show(CProxy::eBROWSER kind, const std::string& connection, const char* when) {
    CProxy p;
    prepare(p, kind, connection);
    if (p.getBrowserProxies() != 1) {
      say("  %-14s (no settings)\n", (std::string(when) + ":").c_str());
      return;
    }
    const CString proxies = p.proxyText();
    say("  %-14s proxy %s%s%s, exceptions %s%s\n", (std::string(when) + ":").c_str(), p.getEnabled() ? "on " : "off ",
        proxies.IsEmpty() ? "(none)" : proxies.GetString(), p.getScriptEnabled() ? ", script on" : "",
        p.getExceptions().IsEmpty() ? "(none)" : p.getExceptions().GetString(),
        p.getAutoDetect() ? ", auto-detect" : "");
  }

  static void prepare(CProxy& p, CProxy::eBROWSER kind, const std::string& connection) {
    p.setConnectoid(connection.c_str());
    HKEY root = HKEY_CURRENT_USER;
    const std::string saved = State::savedCopyKey(kind);
    p.setSaveRegistryName(root, saved.c_str(), nullptr);
    p.setBrowser(kind);
  }

  static void showLog(const std::string& path) {
    CLogDB db;
    openLog(db, path);
    say("  %-5s %-19s  %-19s  %7s  %s\n", "#", "start", "end", "bps", "connection (port)");
    unsigned char data[SessionRecord::kSize];
    LONG slot = 0;
    if (db.startScan() == 0) {
      while (db.getNextRecord(data, &slot) == 0) {
        const SessionRecord r = SessionRecord::decode(data);
        say("  %-5u %-19s  %-19s  %7u  %s (%s)\n", r.stamp, timeText(r.start).c_str(), timeText(r.end).c_str(),
            r.speed, r.connection.c_str(), r.port.c_str());
      }
    }
  }

  static void openLog(CLogDB& db, const std::string& path) {
    const int rc = db.open(path.c_str(), kLogType, kLogVersion, SessionRecord::kSize, kLogCapacity, 0);
    if (rc != 0) throw Failure{path + ": the record log cannot be opened (" + std::to_string(rc) + ")"};
  }

 private:
  static std::string joined(const CStringArray& list) {
    std::string out;
    for (INT_PTR i = 0; i < list.GetSize(); ++i) out += std::string(i == 0 ? "" : " ") + list.GetAt(i).GetString();
    return out;
  }
  static std::string shown(const CStringArray& list) { return list.GetSize() == 0 ? "(empty)" : joined(list); }

  static std::string sessionKey(const SessionRecord& r) {
    unsigned char data[SessionRecord::kSize];
    r.encode(data);
    std::string hex;
    char two[3];
    for (LONG i = 0; i < SessionRecord::kKeySize; ++i) {
      std::snprintf(two, sizeof two, "%02x", data[SessionRecord::kKeyOffset + i]);
      hex += two;
    }
    return hex;
  }

  bool restoreProxies() {
    const std::optional<std::string> begun = m_state.text("Browsers");
    if (!begun) return true;
    const std::string connection = m_state.text("Connection").value_or("");
    std::string left;
    for (CProxy::eBROWSER kind : browsersIn(*begun)) {
      say("\n== Proxy back: %s, connection %s ==\n", browserName(kind), connection.c_str());
      CProxy p;
      prepare(p, kind, connection);
      // No saved copy: the switch-over never saved one (nothing was
      // changed), or it was put back already.
      if (p.loadSavedProxies() != 1) {
        say("  Nothing saved: the browser was not changed, or is back already.\n");
        continue;
      }
      CProxy r;
      prepare(r, kind, connection);
      if (r.savedSettingsToBrowser() != 1) {
        say("  Could NOT put the saved settings back.\n");
        left += std::string(left.empty() ? "" : ",") + browserWord(kind);
        continue;
      }
      show(kind, connection, "Restored");
    }
    if (left.empty()) m_state.remove("Browsers");
    else m_state.set("Browsers", left);
    return left.empty();
  }

  bool restoreSuffixes() {
    const std::optional<std::string> before = m_state.text("Suffixes");
    if (!before) return true;
    const std::string resolver = m_state.text("Resolver").value_or("");
    say("\n== DNS suffix search list back (%s) ==\n", resolver.c_str());
    if (!resolver.empty()) setenv("SUNDRY_RESOLV_CONF", resolver.c_str(), 1);
    CStringArray list;
    std::istringstream words(*before);
    for (std::string w; words >> w;) list.Add(CString(w));
    CDNSSuffixUtil util;
    if (util.setSuffixes(list) != CDNSSuffixUtil::eOK) {
      say("  Could NOT write the list back.\n");
      return false;
    }
    say("  Now:           %s\n", shown(list).c_str());
    m_state.remove("Suffixes");
    return true;
  }

  bool rollBackUpdate() {
    const std::optional<std::string> to = m_state.text("Update To");
    if (!to) return true;
    if (m_state.number("Update Done").value_or(0) != 1) {
      const std::string archive = m_state.text("Update Archive").value_or("");
      say("\n== Update rolled back: %s from %s ==\n", to->c_str(), archive.c_str());
      std::error_code ec;
      if (!archive.empty() && fs::is_directory(archive, ec) && !fs::is_empty(archive, ec) &&
          !runCopyJob(archive, *to, std::string())) {
        say("  Could NOT put the archived files back.\n");
        return false;
      }
    }
    for (const char* name : {"Update From", "Update To", "Update Archive", "Update Done"}) m_state.remove(name);
    return true;
  }

  bool endRecord() {
    const std::optional<std::string> log = m_state.text("Log");
    const std::optional<std::string> key = m_state.text("Session");
    if (!log || !key) return true;
    say("\n== Session record ended: %s ==\n", log->c_str());
    unsigned char wanted[SessionRecord::kKeySize] = {};
    for (size_t i = 0; i + 1 < key->size() && i / 2 < sizeof wanted; i += 2)
      wanted[i / 2] = static_cast<unsigned char>(std::stoul(key->substr(i, 2), nullptr, 16));
    try {
      CLogDB db;
      openLog(db, *log);
      unsigned char data[SessionRecord::kSize];
      if (db.search(SessionRecord::kKeyOffset, SessionRecord::kKeySize, wanted, 0, data) == 1) {
        SessionRecord r = SessionRecord::decode(data);
        if (r.end == 0) {
          r.end = static_cast<int64_t>(std::time(nullptr));
          r.encode(data);
          if (db.setRecord(data, -1, db.getLastRecordNumber()) != 0) {
            say("  Could NOT write the end of the session.\n");
            return false;
          }
        }
      }
      db.close();
      showLog(*log);
    } catch (const Failure& f) {
      say("  %s\n", f.message.c_str());
      return false;
    }
    m_state.remove("Session");
    m_state.remove("Log");
    return true;
  }

  State& m_state;
  std::unique_ptr<CModem> m_modem;
  uint32_t m_speed = 0;
};

// ---------------------------------------------------------------------------
// up and down, one process each.

// The stop signals are taken by sigwait and sigtimedwait alone: blocked
// before any thread starts, so that the copy worker never receives them.
sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

struct Interrupted {};

void stopIfAsked() {
  const sigset_t set = stopSignals();
  const struct timespec none = {0, 0};
  if (sigtimedwait(&set, nullptr, &none) > 0) throw Interrupted{};
}

std::vector<CProxy::eBROWSER> chosenBrowsers(const ConnectOptions& o) {
  std::vector<CProxy::eBROWSER> out;
  for (const std::string& b : o.browsers) {
    if (b == "ie") out.push_back(CProxy::BROWSER_IE);
    else if (b == "mozilla" || b == "netscape") out.push_back(CProxy::BROWSER_NETSCAPE);
    else throw Failure{"--browser must be ie or mozilla: " + b, kUsage};
  }
  if (out.empty()) {
    CProxy p;
    const CProxy::eBROWSER b = p.getBrowser();
    if (b != CProxy::BROWSER_IE && b != CProxy::BROWSER_NETSCAPE)
      throw Failure{"the default browser is neither Internet Explorer nor Netscape/Mozilla (give --browser)"};
    out.push_back(b);
  }
  return out;
}

void runUp(ConnectOptions o) {
  // Kept in the state as absolute paths: `down` may run from another folder.
  for (std::string* path : {&o.resolv, &o.updateFrom, &o.updateTo, &o.archive, &o.log, &o.report})
    if (!path->empty()) *path = fs::absolute(*path).string();
  const bool update = !o.updateFrom.empty() || !o.updateTo.empty() || !o.archive.empty();
  if (update && (o.updateFrom.empty() || o.updateTo.empty() || o.archive.empty()))
    throw Failure{"--update-from, --update-to and --archive go together", kUsage};
  HKEY root = nullptr;
  std::string key;
  if (!sundry::registry::ParseKeyPath(o.templateKey, &root, &key) || key.empty())
    throw Failure{"not a registry key for --template: " + o.templateKey, kUsage};
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  if (!o.resolv.empty()) setenv("SUNDRY_RESOLV_CONF", o.resolv.c_str(), 1);
  const std::vector<CProxy::eBROWSER> browsers = chosenBrowsers(o);

  CMutexSimple holder;
  if (!holder.getMutex(kHolderMutex)) throw Failure{"another `sundry connect` is running"};
  State state;
  if (state.exists())
    throw Failure{"a connection's state is kept already (HKCU\\" + std::string(kStateKey) +
                  "): run `sundry connect down` first"};
  state.set("Holder", static_cast<DWORD>(GetCurrentProcessId()));
  Session session(state);
  try {
    session.dial(o);
    stopIfAsked();
    session.switchProxies(o, browsers);
    stopIfAsked();
    if (!o.suffixes.empty()) session.setSuffixes(o);
    stopIfAsked();
    if (update) session.update(o);
    stopIfAsked();
    if (!o.log.empty()) session.record(o);
    stopIfAsked();
    if (!o.report.empty()) session.report(o);
    checkpoint("holding");
    say("\nConnected. Holding the line until `sundry connect down`, Ctrl-C or SIGTERM.\n");
    int sig = 0;
    sigwait(&signals, &sig);
    say("\nHanging up.\n");
  } catch (const Interrupted&) {
    say("\nInterrupted: putting everything back.\n");
    session.restore();
    throw Failure{"interrupted; the connection was taken down again"};
  } catch (const Failure&) {
    say("\nThe connection failed: putting back what was done.\n");
    if (!session.restore()) say("Some changes could not be put back: run `sundry connect down`.\n");
    throw;
  }
  if (!session.restore()) throw Failure{"some changes could not be put back: run `sundry connect down`"};
  say("\nEverything is back.\n");
}

void runDown() {
  CMutexSimple holder;
  State state;
  if (!holder.getMutex(kHolderMutex)) {
    // A holding `up`: it hangs up and puts everything back itself.
    const DWORD pid = state.number("Holder").value_or(0);
    if (pid == 0) throw Failure{"a `sundry connect` is running and keeps no state yet; try again"};
    say("Asking the connection's process %lu to hang up.\n", static_cast<unsigned long>(pid));
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0)
      throw Failure{"cannot signal process " + std::to_string(pid)};
    bool gone = false;
    for (int i = 0; i < 600 && !gone; ++i) {
      Sleep(50);
      gone = holder.getMutex(kHolderMutex) == TRUE;
    }
    if (!gone) throw Failure{"process " + std::to_string(pid) + " did not end"};
    if (!state.exists()) {
      say("It hung up and put everything back.\n");
      return;
    }
  }
  if (!state.exists()) {
    say("No connection state is kept: nothing to put back.\n");
    return;
  }
  Session session(state);
  if (!session.restore()) throw Failure{"some changes could not be put back; the state is kept for another try"};
  say("\nEverything is back.\n");
}

// ---------------------------------------------------------------------------
// The demonstration.

const EmbeddedFile& embedded(const char* name) {
  for (const EmbeddedFile* f = kConnectData; f->name != nullptr; ++f)
    if (std::strcmp(f->name, name) == 0) return *f;
  throw Failure{std::string("the tool carries no ") + name};
}
std::string embeddedText(const char* name) {
  const EmbeddedFile& f = embedded(name);
  return std::string(reinterpret_cast<const char*>(f.data), f.size);
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
void writeAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.flush();
  if (!out) throw Failure{"cannot write " + path};
}

// A temporary home: a fresh folder with the registry store, the
// application-data folder, the resolver file and the COM map, each named to
// the library for the time of the demo and given back after; the folder
// goes with everything in it.
class TemporaryHome {
 public:
  TemporaryHome() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    const std::string stem = (ec ? fs::path("/tmp") : base).string() + "/sundry-connect-demo-" +
                             std::to_string(GetCurrentProcessId()) + "-";
    // A folder or link there already is never taken over.
    for (int n = 0; m_path.empty() && n < 100; ++n)
      if (fs::create_directory(stem + std::to_string(n), ec)) m_path = stem + std::to_string(n);
    if (m_path.empty()) throw Failure{"cannot create a temporary folder"};
    fs::permissions(m_path, fs::perms::owner_all, ec);
    if (sundry::platform::RegistryUseStore(file("registry.db").c_str()) != ERROR_SUCCESS) {
      fs::remove_all(m_path, ec);
      throw Failure{"cannot switch the registry to a temporary store"};
    }
    for (const char* name : {"SUNDRY_APPDATA", "SUNDRY_RESOLV_CONF", "SUNDRY_COM_MAP"}) {
      const char* value = std::getenv(name);
      m_saved.push_back({name, value != nullptr, value != nullptr ? value : ""});
    }
    setenv("SUNDRY_APPDATA", file("appdata").c_str(), 1);
    setenv("SUNDRY_RESOLV_CONF", file("resolv.conf").c_str(), 1);
    setenv("SUNDRY_COM_MAP", file("com.map").c_str(), 1);
  }
  ~TemporaryHome() {
    sundry::platform::RegistryUseStore(nullptr);
    for (const Saved& s : m_saved) {
      if (s.had) setenv(s.name, s.value.c_str(), 1);
      else unsetenv(s.name);
    }
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;
  std::string file(const std::string& name) const { return m_path + "/" + name; }
  const std::string& path() const { return m_path; }

 private:
  struct Saved {
    const char* name;
    bool had;
    std::string value;
  };
  std::string m_path;
  std::vector<Saved> m_saved;
};

void importEmbedded(const char* name) {
  sundry::registry::RegFileContents contents;
  sundry::registry::RegFileError err;
  if (!sundry::registry::ParseRegFile(embeddedText(name), &contents, &err) ||
      sundry::registry::ApplyRegFile(contents, &err) != 0)
    throw Failure{std::string(name) + ": " + err.Text()};
}

// A registry key and everything below it, as .reg text.
std::string keyText(HKEY root, const char* key) {
  sundry::registry::RegFileContents contents;
  std::string text;
  sundry::registry::RegFileError err;
  if (sundry::registry::ReadRegistryTree(root, key, &contents) != 0 ||
      !sundry::registry::FormatRegFile(contents, &text, &err))
    return std::string();
  return text;
}

// The files of a folder tree, by relative path, with their bytes.
std::vector<std::pair<std::string, std::string>> folderFiles(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) out.emplace_back(fs::relative(it->path(), dir, ec).string(), readAll(it->path()));
  std::sort(out.begin(), out.end());
  return out;
}

void runDemo() {
  TemporaryHome home;
  say("Temporary home: %s\n", home.path().c_str());
  say("  registry store, application data, resolver file, COM map, record log and folders all live there.\n");

  // The client's side: its proxy template, the browser's settings and
  // profile, the resolver file, its installation and its update folder.
  importEmbedded("template.reg");
  importEmbedded("browser-ie.reg");
  const std::string profile = home.file("appdata/Mozilla/Profiles/default/x7c2kq1d.slt");
  fs::create_directories(profile);
  const std::string prefsPath = profile + "/prefs.js";
  const std::string prefsBefore = embeddedText("prefs.js");
  writeAll(prefsPath, prefsBefore);
  fs::permissions(prefsPath, fs::perms::owner_read | fs::perms::owner_write);  // as the browser keeps it
  const std::string resolvBefore = embeddedText("resolv.conf");
  writeAll(home.file("resolv.conf"), resolvBefore);
  const std::string ieBefore = keyText(HKEY_CURRENT_USER, kConnectionsKey);

  const std::string client = home.file("client"), update = home.file("update"), archive = home.file("archive");
  fs::create_directories(client);
  fs::create_directories(update);
  const std::vector<std::pair<std::string, std::string>> installed = {
      {"dialer.cfg", "[Dialer]\r\nVersion=4.1.0\r\nRedial=3\r\n"},
      {"phonebook.txt", "ISP Dial-Up\t5550100\r\n"},
      {"user.ini", "[User]\r\nName=Chris\r\n"}};
  const std::vector<std::pair<std::string, std::string>> updated = {
      {"dialer.cfg", "[Dialer]\r\nVersion=4.2.0\r\nRedial=5\r\n"},
      {"phonebook.txt", "ISP Dial-Up\t5550100\r\nISP Backup\t5550199\r\n"},
      {"whatsnew.txt", "Version 4.2.0: a second access number.\r\n"}};
  for (const auto& f : installed) writeAll(client + "/" + f.first, f.second);
  for (const auto& f : updated) writeAll(update + "/" + f.first, f.second);

  // The modem: a simulator on a pseudo-terminal, COM5 in the COM map.
  CModemSimulator sim;
  sim.setDialAnswer("CONNECT 33600");
  if (!sim.start()) throw Failure{"cannot start the modem simulator"};
  writeAll(home.file("com.map"), "COM5=" + sim.portPath() + "\n");
  say("Modem simulator on %s, mapped to COM5\n", sim.portPath().c_str());

  ConnectOptions o;
  o.port = "COM5";
  o.connection = "ISP Dial-Up";
  o.templateKey = "HKEY_CURRENT_USER\\Software\\Sundry\\Dialer\\Proxy Template";
  o.timing = 50;
  o.suffixes = {"isp.example", "support.isp.example"};
  o.updateFrom = update;
  o.updateTo = client;
  o.archive = archive;
  o.log = home.file("sessions.log");
  o.report = home.file("session.rtf");
  o.text = true;

  State state;
  Session session(state);
  session.dial(o);
  session.switchProxies(o, {CProxy::BROWSER_IE, CProxy::BROWSER_NETSCAPE});
  say("  prefs.js now:\n");
  std::istringstream lines(readAll(prefsPath));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(CProxy::m_StrNsPrefProxy.GetString(), 0) == 0) say("    %s\n", line.c_str());
  session.setSuffixes(o);
  session.update(o);
  session.record(o);
  session.report(o);

  // The line drops: the modem answers no more.
  say("\n== The line drops ==\n");
  sim.hangUp();
  const bool noticed = session.modem()->commandOK("") != CModem::eOK;
  say("  The modem answers no more: %s\n", noticed ? "yes" : "NO");
  const bool restored = session.restore();

  // What must hold now.
  say("\n== Checks ==\n");
  int failures = 0;
  auto check = [&](const char* what, bool ok) {
    say("  %-58s %s\n", what, ok ? "yes" : "NO");
    if (!ok) ++failures;
  };
  check("The hang-up was noticed", noticed);
  check("Everything was put back", restored);
  check("Internet Explorer's connection records back byte for byte",
        !ieBefore.empty() && keyText(HKEY_CURRENT_USER, kConnectionsKey) == ieBefore);
  std::error_code ec;
  check("prefs.js back byte for byte, mode 0600 kept",
        readAll(prefsPath) == prefsBefore &&
            fs::status(prefsPath, ec).permissions() == (fs::perms::owner_read | fs::perms::owner_write));
  check("The resolver file back byte for byte", readAll(home.file("resolv.conf")) == resolvBefore);
  std::vector<std::pair<std::string, std::string>> expected = updated;
  expected.push_back(installed[2]);  // the user's own file stays as it was
  std::sort(expected.begin(), expected.end());
  check("The client folder holds the update (it stays)", folderFiles(client) == expected);
  std::vector<std::pair<std::string, std::string>> archived(installed.begin(), installed.begin() + 2);
  check("The archive holds the overwritten files byte for byte", folderFiles(archive) == archived);
  CLogDB db;
  Session::openLog(db, o.log);
  unsigned char data[SessionRecord::kSize];
  LONG slot = 0;
  bool logOk = db.startScan() == 0 && db.getNextRecord(data, &slot) == 0;
  const SessionRecord r = SessionRecord::decode(data);
  logOk = logOk && r.speed == 33600 && r.start != 0 && r.end >= r.start && r.connection == o.connection &&
          db.getNextRecord(data, &slot) == CLogDB::eNoMoreRecords;
  db.close();
  check("The record log holds the session: start, 33600 bps, end", logOk);
  check("The system report is an RTF document", readAll(o.report).rfind("{\\rtf1", 0) == 0);
  check("No connection state or saved copy is left", !state.exists());

  say("\n%s\n", failures == 0 ? "The connection came and went; everything is as it should be."
                              : "Some checks failed; see above.");
  if (failures != 0) throw Failure{std::to_string(failures) + " check(s) failed"};
}

void Setup(CLI::App& app) {
  auto* connect = app.add_subcommand("connect", "the whole road of a dial-up connection: up, down, demo");
  connect->require_subcommand(1);
  auto o = std::make_shared<ConnectOptions>();
  auto guarded = [](std::function<void()> fn) {
    return [fn] {
      try {
        fn();
      } catch (const Failure&) {
        throw;
      } catch (const std::exception& e) {
        throw Failure{e.what()};
      }
    };
  };

  connect->add_subcommand("demo", "the whole road on a temporary home against the modem simulator")
      ->callback(guarded([] { runDemo(); }));

  auto* up = connect->add_subcommand("up", "dial, switch the machine over to the connection and hold the line");
  up->add_option("--port", o->port, "port name (COM3) or device path")->required();
  up->add_option("--connection", o->connection, "the connection's name")->required();
  up->add_option("--template", o->templateKey, "registry key of the proxy template")->required();
  up->add_option("--dial", o->dial, "what follows ATD (default T5550100)");
  up->add_option("--init", o->init, "init command list (default [Z][E0])");
  up->add_option("--timing", o->timing, "milliseconds between a command and its answer (default 125)");
  up->add_option("--browser", o->browsers, "ie or mozilla (repeatable; default: the http handler's)");
  up->add_option("--resolv", o->resolv, "resolver file (default: SUNDRY_RESOLV_CONF, else /etc/resolv.conf)");
  up->add_option("--suffix", o->suffixes, "DNS suffix of the connection, in search order (repeatable)");
  up->add_option("--update-from", o->updateFrom, "the client's update folder");
  up->add_option("--update-to", o->updateTo, "the folder the update goes into");
  up->add_option("--archive", o->archive, "an empty folder for the files the update overwrites");
  up->add_option("--log", o->log, "record log of the sessions");
  up->add_option("--report", o->report, "system report of the session, RTF");
  up->add_flag("--text", o->text, "also print the report as text");
  up->callback(guarded([o] { runUp(*o); }));

  connect->add_subcommand("down", "hang up and put back everything `up` changed")
      ->callback(guarded([] { runDown(); }));
}

}  // namespace

SUNDRY_CLI_FAMILY("connect", 5, Setup);

}  // namespace sundry::cli

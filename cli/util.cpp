// sundry proc | file | shortcut | device: the process, file-version,
// shortcut and device helpers of CSundry.
//
//   sundry proc find NAME...     one line per name: "NAME: running" or
//                                "NAME: not running"; exit 1 unless all run
//   sundry proc kill NAME...     ends every process of those names (never
//                                the tool itself); one line per name:
//                                "ended", "not running" or "could not be
//                                ended"; exit 1 when any could not be ended
//   sundry file version PATH     the version ("05.01.170395780"), else the
//                                modification time stamp
//   sundry shortcut create TARGET-DIR TARGET-FILE (--folder DIR | --special ID) [--args TEXT]
//   sundry shortcut remove TARGET-FILE (--folder DIR | --special ID)
//                                a shortcut TARGET-FILE.LNK in DIR or in a
//                                special folder: desktop, documents, appdata,
//                                local-appdata, programs, startup, or a
//                                CSIDL number
//   sundry device CLASS [NAME]   the first present device of the class whose
//                                friendly name begins with NAME (any device
//                                without NAME); CLASS is a GUID
//                                ("{4D36E978-E325-11CE-BFC1-08002BE10318}")
//                                or ports, modem, net

#include "commands.h"

#include <sundry/platform/process.h>
#include <sundry/platform/setupapi.h>
#include <sundry/platform/sync.h>
#include <sundry/platform/shell.h>
#include <sundry/util/Sundry.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

struct UtilOptions {
  std::vector<std::string> names;
  std::string path;
  std::string targetDir;
  std::string targetFile;
  std::string folder;
  std::string special;
  std::string arguments;
  std::string deviceClass;
  std::string deviceName;
};

int specialFolderId(const std::string& name) {
  static const struct {
    const char* name;
    int id;
  } kNames[] = {
      {"desktop", CSIDL_DESKTOPDIRECTORY}, {"documents", CSIDL_PERSONAL}, {"appdata", CSIDL_APPDATA},
      {"local-appdata", CSIDL_LOCAL_APPDATA}, {"programs", CSIDL_PROGRAMS}, {"startup", CSIDL_STARTUP},
  };
  for (const auto& n : kNames)
    if (name == n.name) return n.id;
  char* end = nullptr;
  const long id = std::strtol(name.c_str(), &end, 0);
  if (!name.empty() && *end == '\0' && id >= 0 && id <= 0xFFFF) return static_cast<int>(id);
  throw Failure{"unknown special folder \"" + name + "\"", kUsage};
}

void checkFolderChoice(const UtilOptions& o) {
  if (o.folder.empty() == o.special.empty()) throw Failure{"give either --folder or --special", kUsage};
}

void RunFind(const UtilOptions& o) {
  bool all = true;
  for (const std::string& name : o.names) {
    CString exe(name);
    const bool running = CSundry::FindProcessByExeName(exe) != 0;
    std::printf("%s: %s\n", name.c_str(), running ? "running" : "not running");
    all = all && running;
  }
  std::fflush(stdout);
  if (!all) throw Failure{"not every program is running", kFailed};
}

// Each name is reported on its own line, and every name is tried even when
// an earlier one failed. The tool never ends itself, so "proc kill sundry x"
// still reaches x.
// The executable name the process list gives this process.
CString ownExeName() {
  CString name;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return name;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == self) name = entry.szExeFile;
  CloseHandle(snapshot);
  return name;
}

void RunKill(const UtilOptions& o) {
  const CString self = ownExeName();
  bool all = true;
  for (const std::string& name : o.names) {
    CString exe(name);
    const bool isSelf = !self.IsEmpty() && (exe.CompareNoCase(self) == 0 || exe.CompareNoCase(self + ".exe") == 0);
    const char* outcome = "not running";
    if (CSundry::FindProcessByExeName(exe) != 0) {
      const bool ended = CSundry::KillProcessByExeName(exe) != 0;
      outcome = !ended ? "could not be ended" : isSelf ? "ended, except this tool itself" : "ended";
      all = all && ended;
    }
    std::printf("%s: %s\n", name.c_str(), outcome);
  }
  std::fflush(stdout);
  if (!all) throw Failure{"a process could not be ended, or the process list could not be read", kFailed};
}

void RunVersion(const UtilOptions& o) {
  CString version;
  if (!CSundry::GetFileVersion(o.path.c_str(), version)) throw Failure{o.path + ": no such file", kFailed};
  std::printf("%s\n", version.GetString());
}

void RunShortcutCreate(const UtilOptions& o) {
  checkFolderChoice(o);
  const char* args = o.arguments.empty() ? nullptr : o.arguments.c_str();
  const int ok = o.folder.empty()
                     ? CSundry::ShortcutCreate(o.targetDir.c_str(), o.targetFile.c_str(), args, specialFolderId(o.special))
                     : CSundry::ShortcutCreate(o.targetDir.c_str(), o.targetFile.c_str(), args, o.folder.c_str());
  if (!ok) throw Failure{"the shortcut to " + o.targetFile + " could not be saved", kFailed};
}

void RunShortcutRemove(const UtilOptions& o) {
  checkFolderChoice(o);
  const int ok = o.folder.empty() ? CSundry::ShortcutRemove(specialFolderId(o.special), o.targetFile.c_str())
                                  : CSundry::ShortcutRemove(o.folder.c_str(), o.targetFile.c_str());
  if (!ok) throw Failure{"the shortcut to " + o.targetFile + " could not be removed", kFailed};
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional, or a class name.
GUID parseClass(const std::string& text) {
  if (text == "ports") return GUID_DEVCLASS_PORTS;
  if (text == "modem") return GUID_DEVCLASS_MODEM;
  if (text == "net") return GUID_DEVCLASS_NET;
  std::string hex;
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  bool shape = s.size() == 36;
  for (size_t i = 0; shape && i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    shape = dash ? s[i] == '-' : std::isxdigit(static_cast<unsigned char>(s[i])) != 0;
    if (!dash) hex += s[i];
  }
  if (!shape) throw Failure{"\"" + text + "\" is not a class GUID or one of ports, modem, net", kUsage};
  auto field = [&](size_t at, size_t len) { return std::strtoul(hex.substr(at, len).c_str(), nullptr, 16); };
  GUID g;
  g.Data1 = static_cast<DWORD>(field(0, 8));
  g.Data2 = static_cast<WORD>(field(8, 4));
  g.Data3 = static_cast<WORD>(field(12, 4));
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(field(16 + 2 * i, 2));
  return g;
}

void RunDevice(const UtilOptions& o) {
  GUID g = parseClass(o.deviceClass);
  char found[MAX_PATH] = "";
  if (!CSundry::DeviceAvailable(&g, o.deviceName.c_str(), found))
    throw Failure{"no present device of that class" + (o.deviceName.empty() ? std::string() : " named " + o.deviceName + "..."),
                  kFailed};
  std::printf("%s\n", found);
}

void Setup(CLI::App& app) {
  auto opts = std::make_shared<UtilOptions>();

  auto* proc = app.add_subcommand("proc", "find or end running programs by executable name");
  proc->require_subcommand(1);
  auto* find = proc->add_subcommand("find", "tell whether programs of these names run (case ignored; x.exe finds x)");
  find->add_option("NAME", opts->names, "executable name")->required();
  find->callback([opts] { RunFind(*opts); });
  auto* kill = proc->add_subcommand("kill", "end every running process of these names");
  kill->add_option("NAME", opts->names, "executable name")->required();
  kill->callback([opts] { RunKill(*opts); });

  auto* file = app.add_subcommand("file", "file information");
  file->require_subcommand(1);
  auto* version = file->add_subcommand("version", "the version of a Windows program or DLL, else its time stamp");
  version->add_option("PATH", opts->path, "file")->required();
  version->callback([opts] { RunVersion(*opts); });

  auto* shortcut = app.add_subcommand("shortcut", "Windows shortcut files (TARGET-FILE.LNK)");
  shortcut->require_subcommand(1);
  auto addFolder = [&](CLI::App* cmd) {
    cmd->add_option("--folder", opts->folder, "folder of the shortcut");
    cmd->add_option("--special", opts->special,
                    "special folder of the shortcut: desktop, documents, appdata, local-appdata, programs, startup, "
                    "or a CSIDL number");
  };
  auto* create = shortcut->add_subcommand("create", "save a shortcut to TARGET-DIR\\TARGET-FILE");
  create->add_option("TARGET-DIR", opts->targetDir, "folder of the target, also the working directory")->required();
  create->add_option("TARGET-FILE", opts->targetFile, "file name of the target")->required();
  create->add_option("--args", opts->arguments, "command-line arguments of the shortcut");
  addFolder(create);
  create->callback([opts] { RunShortcutCreate(*opts); });
  auto* remove = shortcut->add_subcommand("remove", "delete the shortcut TARGET-FILE.LNK");
  remove->add_option("TARGET-FILE", opts->targetFile, "file name of the target")->required();
  addFolder(remove);
  remove->callback([opts] { RunShortcutRemove(*opts); });

  auto* device = app.add_subcommand("device", "look for a present device of a set-up class");
  device->add_option("CLASS", opts->deviceClass, "class GUID, or ports, modem, net")->required();
  device->add_option("NAME", opts->deviceName, "beginning of the friendly name (case counts)");
  device->callback([opts] { RunDevice(*opts); });
}

}  // namespace

SUNDRY_CLI_FAMILY("util", 80, Setup);

}  // namespace sundry::cli

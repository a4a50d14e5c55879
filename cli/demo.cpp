// sundry demo: the tool's main job in one run, a registry round trip on the
// embedded store.
//
//   1. Opens a fresh temporary store (or the one given with --store; never
//      the user's own registry by default). Where the registry is the
//      system's own and no store can be chosen (Windows), the demo works on
//      the sample's key in the real registry: it refuses to start when that
//      key exists already, and removes it again at the end.
//   2. Imports a small .reg file shipped with the sources (data/sample.reg).
//   3. Shows the values of the imported key and its sub-keys.
//   4. Exports the key as a REGEDIT4 file, to stdout or to --out FILE.
//   5. Imports that export into a second, empty store, exports again and
//      checks that both exports are the same bytes.

#include "commands.h"

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>
#include <sundry/registry/RegFile.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace sundry::cli::regtool {
// Defined in reg.cpp: the "    name    REG_TYPE    data" line of reg query.
std::string ValueLine(const sundry::registry::RegFileValue& v);
}  // namespace sundry::cli::regtool

namespace {

namespace fs = std::filesystem;
using sundry::cli::Failure;
using sundry::registry::RegFileContents;
using sundry::registry::RegFileError;

// Points the registry functions at another store file. False when this
// platform's registry is the system's own and has no store to choose.
bool useStore(const std::string& path) {
  LONG rc = sundry::platform::RegistryUseStore(path.c_str());
  if (rc == ERROR_CALL_NOT_IMPLEMENTED) return false;
  if (rc != ERROR_SUCCESS) {
    const char* text = sundry::platform::ErrorText(static_cast<DWORD>(rc));
    throw Failure{"cannot use the store " + path + ": " + (text ? text : "error"), sundry::cli::kFailed};
  }
  return true;
}


// A scratch directory for the demo's stores; the stores are closed and the
// directory removed when it goes away, on success and failure alike.
class ScratchDir {
 public:
  ScratchDir() : m_path(sundry::cli::MakeScratchFolder("sundry-demo")) {}
  ~ScratchDir() {
    sundry::platform::RegistryUseStore(nullptr);
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const char* name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// The sample file: --file, else data/sample.reg below the current directory,
// else beside the build directory that holds the executable.
std::string findSample(const std::string& given) {
  if (!given.empty()) return given;
  const std::string relative = "data/sample.reg";
  std::string found = sundry::cli::FindDataPath(relative);
  if (!found.empty()) return found;
  throw Failure{"cannot find " + relative + "; run from the source tree or give --file FILE", sundry::cli::kFailed};
}

std::string keyName(HKEY root, const std::string& path) {
  std::string s = sundry::registry::RootKeyName(root);
  return path.empty() ? s : s + "\\" + path;
}

// In the system's own registry: removes the demo's key when it goes away,
// on success and failure alike, once the demo has made it.
class DemoKey {
 public:
  ~DemoKey() {
    if (m_made) sundry::registry::DeleteRegistryTree(m_root, m_path.c_str());
  }
  void claim(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      throw Failure{keyName(root, path) +
                        " exists already; the demo works on a key of its own in this registry and removes it "
                        "afterwards, so it leaves an existing key alone",
                    sundry::cli::kFailed};
    }
    m_root = root;
    m_path = path;
    m_made = true;
  }

 private:
  HKEY m_root = nullptr;
  std::string m_path;
  bool m_made = false;
};

struct Options {
  std::string file, store, out;
};

void run(const Options& o) {
  std::string sample = findSample(o.file);
  ScratchDir scratch;

  // 1. The store.
  std::string store = o.store.empty() ? scratch.file("registry.db") : o.store;
  const bool ownStore = useStore(store);
  if (!ownStore && !o.store.empty())
    throw Failure{"--store: this platform's registry is the system's own; there is no store to choose",
                  sundry::cli::kFailed};
  if (ownStore) std::printf("Store: %s%s\n", store.c_str(), o.store.empty() ? " (temporary)" : "");
  else std::printf("Registry: the system's own (the demo's key is removed at the end)\n");
  DemoKey demoKey;

  // 2. Import: read and check the whole file, then apply it.
  std::string bytes;
  {
    std::FILE* f = std::fopen(sample.c_str(), "rb");
    if (f == nullptr) throw Failure{"cannot read " + sample, sundry::cli::kFailed};
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  RegFileError err;
  RegFileContents parsed;
  if (!sundry::registry::ParseRegFile(bytes, &parsed, &err))
    throw Failure{sample + ": " + err.Text(), sundry::cli::kFailed};
  const sundry::registry::RegFileKey* top = nullptr;
  size_t keys = 0, values = 0;
  for (const auto& k : parsed.keys) {
    if (k.remove) continue;
    if (top == nullptr) top = &k;
    ++keys;
    for (const auto& v : k.values) values += v.remove ? 0 : 1;
  }
  if (top == nullptr) throw Failure{sample + ": the file sets no key", sundry::cli::kFailed};
  HKEY root = top->root;
  std::string path = top->path;
  if (!ownStore) demoKey.claim(root, path);
  if (sundry::registry::ApplyRegFile(parsed, &err) != ERROR_SUCCESS)
    throw Failure{sample + ": " + err.Text(), sundry::cli::kFailed};
  std::printf("Imported %s: %zu keys, %zu values\n", sample.c_str(), keys, values);

  // 3. Query.
  RegFileContents tree;
  LONG rc = sundry::registry::ReadRegistryTree(root, path.c_str(), &tree);
  if (rc != ERROR_SUCCESS) {
    const char* text = sundry::platform::ErrorText(static_cast<DWORD>(rc));
    throw Failure{keyName(root, path) + ": " + (text ? text : "error"), sundry::cli::kFailed};
  }
  for (const auto& k : tree.keys) {
    std::printf("\n%s\n", keyName(k.root, k.path).c_str());
    for (const auto& v : k.values) std::printf("%s\n", sundry::cli::regtool::ValueLine(v).c_str());
  }

  // 4. Export.
  std::string exported;
  if (sundry::registry::ExportRegFile(root, path.c_str(), &exported, &err) != ERROR_SUCCESS)
    throw Failure{err.Text(), sundry::cli::kFailed};
  if (!o.out.empty()) {
    if (sundry::registry::ExportRegFileToPath(root, path.c_str(), o.out.c_str(), &err) != ERROR_SUCCESS)
      throw Failure{err.Text(), sundry::cli::kFailed};
    std::printf("\nExported %s to %s (%zu bytes)\n", keyName(root, path).c_str(), o.out.c_str(), exported.size());
  } else {
    std::printf("\nExport of %s:\n", keyName(root, path).c_str());
    std::fwrite(exported.data(), 1, exported.size(), stdout);
  }

  // 5. Round trip through an empty store (in the system's registry: the
  // same key, deleted first).
  if (ownStore) useStore(scratch.file("check.db"));
  else if (LONG removed = sundry::registry::DeleteRegistryTree(root, path.c_str()); removed != ERROR_SUCCESS)
    throw Failure{"round trip: cannot delete " + keyName(root, path), sundry::cli::kFailed};
  std::string again;
  if (sundry::registry::ImportRegFile(exported, &err) != ERROR_SUCCESS ||
      sundry::registry::ExportRegFile(root, path.c_str(), &again, &err) != ERROR_SUCCESS)
    throw Failure{"round trip: " + err.Text(), sundry::cli::kFailed};
  if (again != exported)
    throw Failure{"round trip: the export of the re-imported key differs from the first export",
                  sundry::cli::kFailed};
  std::printf("Round trip: export -> import into %s -> export gives the same %zu bytes\n",
              ownStore ? "an empty store" : "the emptied key", exported.size());
  std::fflush(stdout);
}

void setup(CLI::App& app) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Registry round trip on the embedded store: import a sample .reg file, query it, export it");
  auto o = std::make_shared<Options>();
  demo->add_option("--file", o->file, "The .reg file to import (default: data/sample.reg)");
  demo->add_option("--store", o->store, "Use this store file instead of a temporary one");
  demo->add_option("--out", o->out, "Write the export to this file instead of stdout");
  demo->callback([o] {
    try {
      run(*o);
    } catch (const Failure&) {
      throw;
    } catch (const std::exception& e) {
      throw Failure{e.what(), sundry::cli::kFailed};
    }
  });
}

}  // namespace

SUNDRY_CLI_FAMILY("demo", 1, setup);

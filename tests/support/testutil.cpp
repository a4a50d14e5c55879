#include "support/testutil.h"

#include <sundry/platform/sync.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <process.h>
#include <stdlib.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace sundry::test {

std::string Win32CodeName(long code) {
  const char* name = sundry::platform::ErrorName(static_cast<DWORD>(code));
  if (name == nullptr) return "code " + std::to_string(code);
  return std::string(name) + " (" + std::to_string(code) + ")";
}

::testing::AssertionResult Win32CodeEquals(const char* expectedExpr, const char* actualExpr,
                                           long expected, long actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actualExpr << " is " << Win32CodeName(actual) << ", expected "
                                       << expectedExpr << " = " << Win32CodeName(expected);
}

namespace {

#if defined(_WIN32)
int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}
int unsetenv(const char* name) { return _putenv_s(name, ""); }
int getpid() { return _getpid(); }
#endif

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  if (base && *base) return base;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::temp_directory_path(ec);
  return ec ? "/tmp" : p.generic_string();
}

}  // namespace

TempDir::TempDir() {
  // A new directory of a random name: one already there is never taken.
  std::random_device rd;
  const std::string base = TempBase() + "/sundry-test-";
  for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
    std::string candidate = base + std::to_string(getpid()) + "-" + std::to_string(rd() % 1000000);
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, ec);
      m_path = candidate;
    }
  }
  if (m_path.empty()) ADD_FAILURE() << "cannot create a test directory under " << TempBase();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
  const char* old = std::getenv(name);
  m_hadOld = old != nullptr;
  if (old) m_old = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (m_hadOld)
    setenv(m_name.c_str(), m_old.c_str(), 1);
  else
    unsetenv(m_name.c_str());
}

DebugLogToFile::DebugLogToFile(const char* tag)
    : m_path(TempBase() + "/sundry-" + tag + "-" + std::to_string(getpid()) + ".log") {
  setenv("SUNDRY_LOG", m_path.c_str(), 0);
}

DebugLogToFile::~DebugLogToFile() {
  std::error_code ec;
  std::filesystem::remove(m_path, ec);
}

std::string DebugLogFile() {
  const char* dest = std::getenv("SUNDRY_LOG");
  return dest != nullptr && *dest != '\0' && std::strcmp(dest, "stderr") != 0 ? dest : "";
}

LogTail::LogTail() : m_start(ReadFile(DebugLogFile()).size()) {}

std::string LogTail::text() const { return ReadFile(DebugLogFile()).substr(m_start); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  return static_cast<bool>(out);
}

bool UnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

int RunCommand(const std::string& command, std::string* out) {
#if defined(_WIN32)
  FILE* p = _popen(command.c_str(), "r");
#else
  FILE* p = popen(command.c_str(), "r");
#endif
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  std::string text;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  if (out) *out = text;
#if defined(_WIN32)
  return _pclose(p);
#else
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string ShellQuote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool MutexExists(const char* name) {
  HANDLE h = CreateMutexA(nullptr, FALSE, name);
  const bool existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (h != nullptr) CloseHandle(h);
  return existed;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

size_t DirEntries(const std::string& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

#if defined(_WIN32)
TestProgramLock::TestProgramLock(const std::string&) {}
TestProgramLock::~TestProgramLock() = default;
void TestProgramLock::exclusive() {}
#else
TestProgramLock::TestProgramLock(const std::string& name) {
  m_fd = ::open(("/tmp/sundry-" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd >= 0) ::flock(m_fd, LOCK_SH);
}
TestProgramLock::~TestProgramLock() {
  if (m_fd >= 0) ::close(m_fd);
}
void TestProgramLock::exclusive() {
  if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
}
#endif

bool SetFileTimes(const std::string& path, time_t accessed, time_t modified) {
#if defined(_WIN32)
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // 100-ns ticks since 1601.
  auto fileTime = [](time_t t) {
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (static_cast<unsigned long long>(t) + 11644473600ULL) * 10000000ULL;
    return FILETIME{ticks.LowPart, ticks.HighPart};
  };
  const FILETIME a = fileTime(accessed), m = fileTime(modified);
  const bool done = SetFileTime(file, nullptr, &a, &m) != 0;
  CloseHandle(file);
  return done;
#else
  const struct timeval times[2] = {{accessed, 0}, {modified, 0}};
  return ::utimes(path.c_str(), times) == 0;
#endif
}

bool SetFileMode(const std::string& path, unsigned mode) {
  std::error_code ec;
  std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode), ec);
  return !ec;
}

unsigned FileMode(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return 0xFFFFu;
  return static_cast<unsigned>(status.permissions() & std::filesystem::perms::mask) & 07777u;
}

::testing::AssertionResult HasFileMode(const std::string& path, unsigned mode) {
  const unsigned actual = FileMode(path);
#if defined(_WIN32)
  const unsigned kept = 0200;
#else
  const unsigned kept = 07777;
#endif
  if (actual != 0xFFFFu && (actual & kept) == (mode & kept)) return ::testing::AssertionSuccess();
  char text[64];
  std::snprintf(text, sizeof text, "mode %04o, expected %04o", actual, mode);
  return ::testing::AssertionFailure() << path << " has " << (actual == 0xFFFFu ? "no file" : text);
}

#if !defined(_WIN32)
FileFault::FileFault(std::initializer_list<Op> ops, int nth, DWORD code, bool sticky)
    : m_ops(ops), m_left(nth), m_code(code), m_sticky(sticky) {
  platform::posix::SetFileFaultHook(&FileFault::Hook, this);
}

FileFault::~FileFault() { platform::posix::SetFileFaultHook(nullptr, nullptr); }

DWORD FileFault::Hook(Op op, void* context) {
  auto* self = static_cast<FileFault*>(context);
  if (std::find(self->m_ops.begin(), self->m_ops.end(), op) == self->m_ops.end()) return 0;
  if (self->m_fired) return self->m_sticky ? self->m_code : 0;
  if (--self->m_left > 0) return 0;
  self->m_fired = true;
  return self->m_code;
}

OddFiles::OddFiles(const TempDir& dir) : fifo(dir.file("fifo")), link(dir.file("link")) {
  EXPECT_EQ(0, ::mkfifo(fifo.c_str(), 0666));
  EXPECT_EQ(0, ::symlink(fifo.c_str(), link.c_str()));
  if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) device = dir.file("null");
}

std::vector<std::string> OddFiles::all() const {
  std::vector<std::string> v{fifo, link};
  if (!device.empty()) v.push_back(device);
  return v;
}

void OddFiles::expectUnchanged() const {
  struct stat st;
  ASSERT_EQ(0, ::stat(fifo.c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(0, ::lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  if (!device.empty()) {
    ASSERT_EQ(0, ::stat(device.c_str(), &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
}
#endif  // !_WIN32

}  // namespace sundry::test

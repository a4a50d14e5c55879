#pragma once
// Running copy jobs in tests: a controller on its thread, the callbacks it
// made, and trees of files.

#include "support/testutil.h"

#include <sundry/copy/CopyFileController.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sundry::test {

struct CopyEvent {
  int code;
  std::string name;  // "-" for a null name
  int64_t size;
  long count;
};

// Records every callback of the controller that runs; the callback has no
// context argument, so one recorder serves the process at a time.
class CopyRecorder {
 public:
  CopyRecorder() { current() = this; }
  ~CopyRecorder() { current() = nullptr; }

  static int Callback(int code, const char* name, int64_t size, long count) {
    CopyRecorder* self = current();
    if (self == nullptr) return 0;
    CopyEvent event{code, name != nullptr ? name : "-", size, count};
    if (self->onEvent) self->onEvent(event);
    std::lock_guard<std::mutex> guard(self->m_lock);
    self->events.push_back(event);
    // A job's first callback is the counting's (1 or 2); the next 0 or 1
    // is its last.
    if (!self->m_inJob && (code == 1 || code == 2)) {
      self->m_inJob = true;
    } else if (self->m_inJob && (code == 0 || code == 1)) {
      self->m_inJob = false;
      ++self->m_jobs;
      self->m_lastCodes.push_back(code);
      self->m_done.notify_all();
    }
    return 0;
  }

  // Waits until jobs jobs have ended; false after 30 seconds.
  bool WaitForJobs(int jobs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_done.wait_for(guard, std::chrono::seconds(30), [&] { return m_jobs >= jobs; });
  }

  // The last code of job number job (1-based), or -1.
  int LastCode(int job) {
    std::lock_guard<std::mutex> guard(m_lock);
    return job >= 1 && job <= static_cast<int>(m_lastCodes.size()) ? m_lastCodes[job - 1] : -1;
  }

  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const CopyEvent& e : events) codes.push_back(e.code);
    return codes;
  }
  std::vector<std::string> Names(int code) const {
    std::vector<std::string> names;
    for (const CopyEvent& e : events)
      if (e.code == code) names.push_back(e.name);
    return names;
  }

  std::vector<CopyEvent> events;
  std::function<void(const CopyEvent&)> onEvent;  // called on the worker thread

 private:
  static CopyRecorder*& current() {
    static CopyRecorder* recorder = nullptr;
    return recorder;
  }
  std::mutex m_lock;
  std::condition_variable m_done;
  bool m_inJob = false;
  int m_jobs = 0;
  std::vector<int> m_lastCodes;
};

class CopyJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDir(src);
    MakeDir(dst);
    controller = std::make_unique<CCopyFileController>();
    controller->setCopyDir(src.c_str(), dst.c_str());
    controller->setCallbackFn(&CopyRecorder::Callback);
  }

  // Starts the thread (once), runs one job and returns its last code.
  int Run() {
    if (!started) {
      EXPECT_TRUE(controller->CreateThread());
      started = true;
    }
    ++jobs;
    EXPECT_TRUE(controller->PostThreadMessage(WM_COPYFILES, 0, 0));
    EXPECT_TRUE(recorder.WaitForJobs(jobs)) << "the job did not end";
    return recorder.LastCode(jobs);
  }

  // Writes a file below root ("a/b.txt"), making its directories.
  static void Put(const std::string& root, const std::string& rel, const std::string& content) {
    MakeDir(root);
    size_t start = 0;
    for (size_t slash; (slash = rel.find('/', start)) != std::string::npos; start = slash + 1)
      MakeDir(root + "/" + rel.substr(0, slash));
    ASSERT_TRUE(WriteFile(root + "/" + rel, content)) << rel;
  }
  static std::string Get(const std::string& path) { return ReadFile(path); }
  // Whether something is at path (a link is something, also when it leads
  // nowhere).
  static bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
  }
  // Makes a directory where there is none.
  static void MakeDir(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directory(path, ec);
  }

  TempDir dir;
  const std::string src = dir.file("src"), dst = dir.file("dst"), arc = dir.file("arc");
  CopyRecorder recorder;
  std::unique_ptr<CCopyFileController> controller;
  bool started = false;
  int jobs = 0;
};

// A file in the source whose copy fails while the object lives: a FIFO on
// Linux; on Windows a file that this process holds open unshared.
class UncopyableFile {
 public:
  explicit UncopyableFile(const std::string& path);
  ~UncopyableFile();
  UncopyableFile(const UncopyableFile&) = delete;
  UncopyableFile& operator=(const UncopyableFile&) = delete;
  bool made() const { return m_made; }

 private:
  bool m_made = false;
#if defined(_WIN32)
  HANDLE m_file = INVALID_HANDLE_VALUE;
#endif
};

#if defined(_WIN32)
inline UncopyableFile::UncopyableFile(const std::string& path) {
  m_file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  m_made = m_file != INVALID_HANDLE_VALUE;
}
inline UncopyableFile::~UncopyableFile() {
  if (m_made) CloseHandle(m_file);
}
#else
inline UncopyableFile::UncopyableFile(const std::string& path) { m_made = ::mkfifo(path.c_str(), 0644) == 0; }
inline UncopyableFile::~UncopyableFile() = default;
#endif

}  // namespace sundry::test

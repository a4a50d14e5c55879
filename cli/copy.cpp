// sundry copy: one copy job of CCopyFileController, run on its thread.
//
//   sundry copy SRC DST [--mask PATTERN]... [--subdirs] [--no-overwrite]
//       [--continue-on-fail] [--archive DIR] [--restore-on-failure]
//       [--rename SUFFIX] [--move] [--keep NAME]... [--except NAME]...
//       [--except-dir NAME]... [--readonly-ignore] [--no-readonly-reset]
//       [--create-dir] [--events]
//
// No --mask means "*.*". Exits 0 when the job's last callback has code 0,
// 1 when it has code 1, 2 for bad usage. On a terminal a progress bar on
// stderr shows files and bytes done of the counted totals, the rate and the
// time left, redrawn at most ten times a second; --events prints every
// callback to stdout instead, one line "CODE<TAB>NAME<TAB>SIZE<TAB>COUNT"
// ("-" for a null name), in the order they were made. Ctrl-C (or SIGTERM)
// posts the stop message: the job stops at its next check (the start of a
// directory's next listing), the archive is restored when asked, and the
// tool exits 1; a job that ends before it checks again exits as it ends.

#include "commands.h"

#include <sundry/copy/CopyFileController.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sundry::cli {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;
extern "C" void onStopSignal(int) { g_stopRequested = 1; }


struct CopyOptions {
  std::string source, destination, archive, rename;
  std::vector<std::string> masks, keep, except, exceptDirs;
  bool subdirs = false, noOverwrite = false, continueOnFail = false, restore = false, move = false;
  bool readOnlyIgnore = false, noReadOnlyReset = false, createDir = false, events = false;
};

// What the callback has seen; written on the worker thread, read by the
// main thread.
struct Progress {
  std::atomic<bool> events{false};
  std::atomic<bool> counted{false};
  std::atomic<bool> finished{false};
  std::atomic<int> lastCode{1};
  std::atomic<int64_t> totalBytes{0}, bytesDone{0};
  std::atomic<long> totalFiles{0}, filesDone{0};
};
Progress g_progress;

int onCopyEvent(int code, const char* name, int64_t size, long count) {
  Progress& p = g_progress;
  if (p.events)
    std::printf("%d\t%s\t%" PRId64 "\t%ld\n", code, name != nullptr ? name : "-", size, count);
  if (!p.counted && (code == 1 || code == 2)) {
    p.counted = true;
    if (code == 2) {
      p.totalBytes = size;
      p.totalFiles = count;
    }
  } else if (code == 0 || code == 1) {
    if (p.events) std::fflush(stdout);
    p.lastCode = code;
    p.finished = true;
  } else if (code == 7) {
    p.bytesDone += size;
  }
  if (code >= 3 && code <= 11) p.filesDone = count;
  return 0;
}

std::string humanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) bytes /= 1024, ++u;
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

void drawBar(double seconds, bool last) {
  const Progress& p = g_progress;
  const int64_t done = p.bytesDone, total = p.totalBytes;
  const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total)
                          : p.totalFiles > 0 ? static_cast<double>(p.filesDone) / static_cast<double>(p.totalFiles)
                                             : 0.0;
  const int width = 24;
  const int filled = static_cast<int>(std::min(1.0, fraction) * width);
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  std::string left = "--:--";
  if (rate > 0 && total > done) {
    const long secs = static_cast<long>(static_cast<double>(total - done) / rate);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", secs / 60, secs % 60);
    left = text;
  }
  std::fprintf(stderr, "\r[%s%s] %ld/%ld files  %s/%s  %s/s  %s left ", std::string(filled, '#').c_str(),
               std::string(width - filled, '.').c_str(), p.filesDone.load(), p.totalFiles.load(),
               humanBytes(static_cast<double>(done)).c_str(), humanBytes(static_cast<double>(total)).c_str(),
               humanBytes(rate).c_str(), left.c_str());
  if (last) std::fputc('\n', stderr);
  std::fflush(stderr);
}

void runCopy(const CopyOptions& o) {
  if (o.restore && o.archive.empty()) throw Failure{"--restore-on-failure needs --archive", kUsage};
  std::unique_ptr<CObject> object(CRuntimeClass::CreateObject("CCopyFileController"));
  auto* controller = dynamic_cast<CCopyFileController*>(object.get());
  if (controller == nullptr) throw Failure{"the copy controller cannot be created"};

  controller->setCopyDir(o.source.c_str(), o.destination.c_str());
  if (o.masks.empty()) controller->setFileMask("*.*");
  for (const std::string& m : o.masks) controller->setFileMask(m.c_str());
  for (const std::string& e : o.except) controller->setCopyFileExceptions(e.c_str());
  for (const std::string& e : o.exceptDirs) controller->setCopyDirExceptions(e.c_str());
  if (!o.rename.empty()) controller->setRename(o.rename.c_str());
  if (!o.archive.empty()) controller->setArchiveDir(o.archive.c_str(), o.restore ? 1 : 0);
  CStringArray keep;
  for (const std::string& k : o.keep) keep.Add(k.c_str());
  controller->removeSourceFiles(o.move ? 1 : 0, &keep);
  controller->overwrite(o.noOverwrite ? 0 : 1);
  controller->continueOnFail(o.continueOnFail ? 1 : 0);
  controller->copySubDirectories(o.subdirs ? 1 : 0);
  controller->setCreateDir(o.createDir ? 1 : 0);
  controller->setReadOnlyIgnore(o.readOnlyIgnore ? 1 : 0);
  controller->setReadOnlyReset(o.noReadOnlyReset ? 0 : 1);
  g_progress.events = o.events;
  controller->setCallbackFn(&onCopyEvent);

  // Ctrl-C and a termination request only raise a flag; this thread sees it
  // at its next redraw and asks the worker to stop.
  g_stopRequested = 0;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);

  if (!controller->CreateThread() || !controller->PostThreadMessage(WM_COPYFILES, 0, 0))
    throw Failure{"the copy thread cannot be started"};
  const bool bar = !o.events && IsTerminal(stderr);
  const auto start = std::chrono::steady_clock::now();
  bool stopped = false;
  while (!g_progress.finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // at most ten redraws a second
    if (g_stopRequested != 0 && !stopped) {
      stopped = true;
      controller->PostThreadMessage(WM_KILLCOPY, 0, 0);
    }
    if (bar) drawBar(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), false);
  }
  if (bar) drawBar(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), true);
  object.reset();  // stops the thread and waits for it
  std::fflush(stdout);
  // The job's own verdict: a stop that came too late to cut it short
  // leaves a complete copy.
  if (g_progress.lastCode != 0) throw Failure{stopped ? "copy stopped" : "copy failed", kFailed};
}

void setup(CLI::App& app) {
  auto o = std::make_shared<CopyOptions>();
  auto* cmd = app.add_subcommand("copy", "copy a directory's files (optionally its tree) with the copy worker");
  cmd->add_option("SRC", o->source, "source directory")->required();
  cmd->add_option("DST", o->destination, "destination directory")->required();
  cmd->add_option("--mask", o->masks, "file-name pattern (repeatable; default *.*)");
  cmd->add_flag("--subdirs", o->subdirs, "descend into sub-directories whose names match a mask");
  cmd->add_flag("--no-overwrite", o->noOverwrite, "an existing destination file makes its copy fail");
  cmd->add_flag("--continue-on-fail", o->continueOnFail, "a failed file does not end the job");
  cmd->add_option("--archive", o->archive, "save overwritten destination files under DIR");
  cmd->add_flag("--restore-on-failure", o->restore, "put the archived files back when the job fails");
  cmd->add_option("--rename", o->rename, "rename an existing destination file to its name plus SUFFIX first");
  cmd->add_flag("--move", o->move, "remove each source file once copied");
  cmd->add_option("--keep", o->keep, "never remove a source file of this name (repeatable)");
  cmd->add_option("--except", o->except, "do not copy this file: bare name or full source path (repeatable)");
  cmd->add_option("--except-dir", o->exceptDirs, "do not descend into this sub-directory (repeatable)");
  cmd->add_flag("--readonly-ignore", o->readOnlyIgnore, "make a read-only destination file writable first");
  cmd->add_flag("--no-readonly-reset", o->noReadOnlyReset, "leave such a file writable afterwards");
  cmd->add_flag("--create-dir", o->createDir, "create the destination directory (one level) when missing");
  cmd->add_flag("--events", o->events, "print every callback as CODE<TAB>NAME<TAB>SIZE<TAB>COUNT");
  cmd->callback([o] { runCopy(*o); });
}

}  // namespace

SUNDRY_CLI_FAMILY("copy", 70, setup);

}  // namespace sundry::cli

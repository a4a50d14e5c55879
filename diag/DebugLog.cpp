// The debug-log library: scopes and report lines written through spdlog.

#include "platform/logfile.h"

#include <sundry/diag/DebugLog.h>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

thread_local int t_depth = 0;

// Appends each line to a log file opened through the platform's
// open-a-regular-file: a SUNDRY_LOG that names a FIFO, a device or a
// directory is refused (the log stays silent) instead of hanging or
// writing into a device.
class FileSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit FileSink(std::unique_ptr<sundry::platform::LogFile> file) : m_file(std::move(file)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t line;
    formatter_->format(msg, line);
    m_file->Append(line.data(), line.size());  // a trace that cannot be written is dropped
  }
  void flush_() override {}

 private:
  std::unique_ptr<sundry::platform::LogFile> m_file;
};

// The logger is made on first use from SUNDRY_LOG; null when logging is off
// or the destination cannot be opened (the log then stays silent).
std::shared_ptr<spdlog::logger> makeLogger() {
  const char* dest = std::getenv("SUNDRY_LOG");
  if (dest == nullptr || *dest == '\0') return nullptr;
  try {
    std::shared_ptr<spdlog::logger> logger;
    if (std::strcmp(dest, "stderr") == 0)
      logger = std::make_shared<spdlog::logger>("sundry", std::make_shared<spdlog::sinks::stderr_sink_mt>());
    else {
      auto file = sundry::platform::OpenLogFile(dest);
      if (!file) return nullptr;
      logger = std::make_shared<spdlog::logger>("sundry", std::make_shared<FileSink>(std::move(file)));
    }
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%t] %v");
    logger->set_level(spdlog::level::info);
    logger->flush_on(spdlog::level::info);
    return logger;
  } catch (...) {
    return nullptr;
  }
}

spdlog::logger* logger() {
  static std::shared_ptr<spdlog::logger> instance = makeLogger();
  return instance.get();
}

void writeLine(int depth, const char* scope, const char* category, const char* format, va_list args) {
  spdlog::logger* log = logger();
  if (log == nullptr) return;
  try {
    char text[1024];
    text[0] = '\0';
    if (format != nullptr) std::vsnprintf(text, sizeof text, format, args);
    log->info("{:{}}{} {}: {}", "", depth * 2, scope ? scope : "", category ? category : "", text);
  } catch (...) {
    // The caller never learns of a failed trace.
  }
}

}  // namespace

CDebugLog::CDebugLog(const char* scope) : m_Scope(scope), m_Depth(t_depth), m_Enabled(logger() != nullptr) {
  if (m_Enabled) {
    va_list none{};
    writeLine(m_Depth, m_Scope, "Enter", nullptr, none);
  }
  t_depth = m_Depth + 1;
}

CDebugLog::CDebugLog(const char* scope, const char* format, ...)
    : m_Scope(scope), m_Depth(t_depth), m_Enabled(logger() != nullptr) {
  if (m_Enabled) {
    va_list args;
    va_start(args, format);
    writeLine(m_Depth, m_Scope, "Enter", format, args);
    va_end(args);
  }
  t_depth = m_Depth + 1;
}

CDebugLog::~CDebugLog() {
  if (m_Enabled) {
    va_list none{};
    writeLine(m_Depth, m_Scope, "Leave", nullptr, none);
  }
  t_depth = m_Depth;
}

void CDebugLog::Report(const char* category, const char* format, ...) {
  if (!m_Enabled) return;
  va_list args;
  va_start(args, format);
  writeLine(m_Depth + 1, m_Scope, category, format, args);
  va_end(args);
}

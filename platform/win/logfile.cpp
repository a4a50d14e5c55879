#include "platform/logfile.h"

#include <windows.h>

namespace sundry::platform {
namespace {

class WinLogFile : public LogFile {
 public:
  explicit WinLogFile(HANDLE h) : m_h(h) {}
  ~WinLogFile() override { ::CloseHandle(m_h); }
  bool Append(const char* p, size_t left) override {
    while (left > 0) {
      DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      DWORD done = 0;
      if (!::WriteFile(m_h, p, chunk, &done, nullptr) || done == 0) return false;
      p += done;
      left -= done;
    }
    return true;
  }

 private:
  HANDLE m_h;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const char* path) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
  // also when another process appends to the same file.
  HANDLE h = ::CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(h) != FILE_TYPE_DISK) {  // a pipe, a console or a device
    ::CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<WinLogFile>(h);
}

}  // namespace sundry::platform

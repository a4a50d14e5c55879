#include "support/appdata.h"

#include <filesystem>

#if defined(_WIN32)
#include <shlobj.h>
#include <windows.h>
#endif

namespace sundry::test {

namespace fs = std::filesystem;

#if defined(_WIN32)

ScratchAppData::ScratchAppData(const TempDir&) {
  char folder[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    ADD_FAILURE() << "no application-data folder";
    return;
  }
  m_path = folder;
  const std::string mozilla = m_path + "\\Mozilla";
  std::error_code ec;
  if (fs::exists(mozilla, ec)) {
    m_setAside = mozilla + ".sundry-test-" + std::to_string(GetCurrentProcessId());
    fs::rename(mozilla, m_setAside, ec);
    if (ec) {
      ADD_FAILURE() << "cannot set " << mozilla << " aside: " << ec.message();
      m_setAside.clear();
    }
  }
}

ScratchAppData::~ScratchAppData() {
  if (m_path.empty()) return;
  const std::string mozilla = m_path + "\\Mozilla";
  std::error_code ec;
  fs::remove_all(mozilla, ec);
  if (!m_setAside.empty()) fs::rename(m_setAside, mozilla, ec);
  if (ec) ADD_FAILURE() << "cannot put " << mozilla << " back: " << ec.message();
}

#else

ScratchAppData::ScratchAppData(const TempDir& scratch) : m_path(scratch.file("appdata")) {
  fs::create_directories(m_path);
  m_env = std::make_unique<ScopedEnv>("SUNDRY_APPDATA", m_path.c_str());
}

ScratchAppData::~ScratchAppData() = default;

#endif

}  // namespace sundry::test

#pragma once
// The application-data folder (CSIDL_APPDATA) for a test that writes a
// browser's files there. On Linux it is a new folder in the test's scratch
// folder, named by SUNDRY_APPDATA. Windows has only the user's real folder:
// the test works in it, and the Mozilla folder it finds there is set aside
// for the test and put back afterwards (one made by the test is removed).

#include "support/testutil.h"

#include <memory>
#include <string>

namespace sundry::test {

class ScratchAppData {
 public:
  explicit ScratchAppData(const TempDir& scratch);
  ~ScratchAppData();
  ScratchAppData(const ScratchAppData&) = delete;
  ScratchAppData& operator=(const ScratchAppData&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  std::unique_ptr<ScopedEnv> m_env;
  std::string m_setAside;  // where the user's Mozilla folder waits, if any
};

}  // namespace sundry::test

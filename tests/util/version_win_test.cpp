// CSundry's file versions from a version resource that the resource
// compiler made (the test sleeper's, file version 4.3.2.1).

#include "support/child.h"
#include "support/testutil.h"

#include <sundry/util/Sundry.h>

namespace {

TEST(FileVersionResource, ReadsTheFixedFileVersionOfABuiltProgram) {
  const std::string program = sundry::test::SleeperProgram();
  unsigned long major = 0, minor = 0, build = 0;
  ASSERT_EQ(1, CSundry::GetFileVersion(program.c_str(), major, minor, build));
  EXPECT_EQ(4u, major);
  EXPECT_EQ(3u, minor);
  EXPECT_EQ(2u * 65536u + 1u, build);
  CString text;
  ASSERT_EQ(1, CSundry::GetFileVersion(program.c_str(), text));
  EXPECT_STREQ("04.03.131073", text);
}

}  // namespace

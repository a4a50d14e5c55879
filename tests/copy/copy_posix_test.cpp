// The copy worker's jobs over what only Linux file systems have: links
// that loop, names that hold a backslash.

#include "copy_support.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using sundry::test::CopyJobTest;
using Names = std::vector<std::string>;

TEST_F(CopyJobTest, DestinationInsideTheSourceAndLinkLoopsEnd) {
  Put(src, "a.txt", "a");
  Put(src, "deep/b.txt", "b");
  ASSERT_EQ(0, ::symlink(src.c_str(), (src + "/loop").c_str()));
  ASSERT_EQ(0, ::symlink("..", (src + "/deep/up").c_str()));
  const std::string inside = src + "/out";
  ::mkdir(inside.c_str(), 0755);
  controller->setCopyDir(src.c_str(), inside.c_str());
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2, recorder.events.front().count);
  EXPECT_EQ("b", Get(inside + "/deep/b.txt"));
  EXPECT_FALSE(Exists(inside + "/out"));
  EXPECT_FALSE(Exists(inside + "/loop"));
  EXPECT_FALSE(Exists(inside + "/deep/up"));
}

TEST_F(CopyJobTest, NamesWithABackslashAreRefused) {
  // Source and destination at different depths, so that the name would
  // lead from a real file outside the one to a place outside the other.
  const std::string inner = dir.file("deep/src"), outer = dir.file("deep/o/dst");
  Put(dir.file("deep"), "victim", "outside");
  Put(inner, "..\\victim", "inside");
  ::mkdir(dir.file("deep/o").c_str(), 0755);
  ::mkdir(outer.c_str(), 0755);
  controller->setCopyDir(inner.c_str(), outer.c_str());
  controller->setFileMask("*.*");
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Names{"..\\victim"}), recorder.Names(8));
  EXPECT_FALSE(Exists(dir.file("deep/o/victim")));
  EXPECT_FALSE(Exists(outer + "/..\\victim"));
}

}  // namespace

// Copy jobs that fail part way: whichever file operation fails, and on an
// immutable file, the job reports failure, leaves no cut file, and with an
// archive and restore-on-failure the destination is what it was before.

#include "copy_support.h"

#include "platform/posix/fault.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using sundry::test::CopyEvent;
using sundry::test::CopyJobTest;
using sundry::test::ReadFile;
using sundry::test::RunCommand;
namespace posix = sundry::platform::posix;

DWORD failNth(posix::FileOperation, void* context) {
  auto* left = static_cast<int*>(context);
  return --*left == 0 ? DWORD{ERROR_DISK_FULL} : DWORD{0};
}

class CopyFaultTest : public CopyJobTest {
 protected:
  // The destination and its modes as diff and stat see them.
  std::string Snapshot(const std::string& name) {
    const std::string copy = dir.file(name);
    RunCommand("rm -rf " + copy + " && cp -a " + dst + " " + copy);
    std::string modes;
    RunCommand("cd " + dst + " && find . | sort | xargs stat -c '%n %a %s'", &modes);
    return modes;
  }
  void FillTrees() {
    Put(src, "a.txt", std::string(5000, 'a'));
    Put(src, "b.txt", std::string(70000, 'b'));
    Put(src, "sub/c.txt", "new c");
    Put(src, "sub/d.txt", "new d");
    Put(dst, "a.txt", "old a");
    Put(dst, "b.txt", "old b");
    Put(dst, "sub/c.txt", "old c");
    Put(dst, "sub/d.txt", "old d");
    ::chmod((dst + "/sub/c.txt").c_str(), 0600);
  }
};

// Fails the first, second, ... file operation of the job in turn, until a
// job gets through without failing.
TEST_F(CopyFaultTest, EveryFailingOperationIsRolledBack) {
  FillTrees();
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  controller->setArchiveDir(arc.c_str(), 1);
  const std::string before = Snapshot("before");
  int n = 1;
  for (; n < 200; ++n) {
    int left = n;
    posix::SetFileFaultHook(failNth, &left);
    const int code = Run();
    posix::SetFileFaultHook(nullptr, nullptr);
    if (left <= 0) {
      // The fault struck: a failed job, and the destination as before.
      EXPECT_EQ(1, code) << "operation " << n;
      EXPECT_EQ(before, Snapshot("after")) << "operation " << n;
      EXPECT_EQ(0, RunCommand("diff -r " + dir.file("before") + " " + dst)) << "operation " << n;
    } else {
      EXPECT_EQ(0, code);
      break;
    }
  }
  EXPECT_GT(n, 8) << "too few operations were failed to mean anything";
}

class Immutable {
 public:
  explicit Immutable(const std::string& path) : m_path(path) {
    m_set = RunCommand("chattr +i " + path + " 2>/dev/null") == 0;
  }
  ~Immutable() {
    if (m_set) RunCommand("chattr -i " + m_path);
  }
  bool set() const { return m_set; }

 private:
  std::string m_path;
  bool m_set;
};

// An immutable destination file fails its copy; the restore then puts back
// each archived file on its own, also when one of them cannot be put back.
TEST_F(CopyFaultTest, ImmutableFilesFailTheJobAndEachRestoreStandsAlone) {
  Put(src, "a.txt", "new a");
  Put(src, "b.txt", "new b");
  Put(src, "c.txt", "new c");
  Put(dst, "a.txt", "old a");
  Put(dst, "b.txt", "old b");
  Put(dst, "c.txt", "old c");
  ::chmod((src + "/a.txt").c_str(), 0444);  // the copy of a comes out read-only
  Immutable c(dst + "/c.txt");
  if (!c.set()) GTEST_SKIP() << "chattr +i is not possible here (needs root on a file system with attributes)";
  std::unique_ptr<Immutable> a;
  recorder.onEvent = [&](const CopyEvent& e) {
    if (e.code == 7 && e.name == "a.txt") a = std::make_unique<Immutable>(dst + "/a.txt");
  };
  controller->setFileMask("*.*");
  controller->setArchiveDir(arc.c_str(), 1);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{"c.txt"}), recorder.Names(8));
  EXPECT_EQ((std::vector<std::string>{"a.txt"}), recorder.Names(14));  // its mode cannot change
  EXPECT_EQ((std::vector<std::string>{"b.txt"}), recorder.Names(13));
  EXPECT_EQ("old b", ReadFile(dst + "/b.txt"));
  EXPECT_EQ("old c", ReadFile(dst + "/c.txt"));
  std::string leftovers;
  RunCommand("ls -A " + dst, &leftovers);
  EXPECT_EQ("a.txt\nb.txt\nc.txt\n", leftovers);
}

}  // namespace

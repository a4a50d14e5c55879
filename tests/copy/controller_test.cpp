// The copy worker's jobs: options, callbacks, stopping, and the cases where
// a careless copy would lose or misplace files.

#include "copy_support.h"

#include <sundry/platform/thread.h>

#include <filesystem>
#include <thread>

namespace {

using sundry::test::CopyEvent;
using sundry::test::CopyJobTest;
using sundry::test::WriteFile;
using Codes = std::vector<int>;
using Names = std::vector<std::string>;

// Wine's CopyFile (run as root, as the tests run here) writes over a
// destination with the read-only attribute, which Windows refuses.
constexpr char kWritesOverReadOnly[] = "Wine's CopyFile writes over a read-only file";

TEST_F(CopyJobTest, NoMasksCopiesNothingAndSucceeds) {
  Put(src, "a.txt", "a");
  EXPECT_EQ(0, Run());
  ASSERT_EQ(2u, recorder.events.size());
  const CopyEvent& counted = recorder.events[0];
  EXPECT_EQ(2, counted.code);
  EXPECT_EQ("-", counted.name);
  EXPECT_EQ(0, counted.size);
  EXPECT_EQ(0, counted.count);
  EXPECT_FALSE(Exists(dst + "/a.txt"));
}

TEST_F(CopyJobTest, SubDirectoriesAreFoundThroughTheMask) {
  Put(src, "a.txt", "a");
  Put(src, "data/x.txt", "x");
  Put(src, "notes.txt/y.txt", "y");
  controller->setFileMask("*.txt");
  controller->copySubDirectories(1);
  EXPECT_EQ(0, Run());
  EXPECT_EQ("a", Get(dst + "/a.txt"));
  EXPECT_EQ("y", Get(dst + "/notes.txt/y.txt"));
  EXPECT_FALSE(Exists(dst + "/data"));
}

TEST_F(CopyJobTest, OverwriteOffFailsOnAnExistingFile) {
  Put(src, "a.txt", "new");
  Put(dst, "a.txt", "old");
  controller->setFileMask("");
  controller->overwrite(0);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Codes{2, 6, 8, 1}), recorder.Codes());
  EXPECT_EQ("old", Get(dst + "/a.txt"));
}

TEST_F(CopyJobTest, ReadOnlyDestinationNeedsReadOnlyIgnore) {
  Put(src, "a.txt", "new");
  Put(dst, "a.txt", "old");
  ASSERT_TRUE(sundry::test::SetFileMode(dst + "/a.txt", 0444));
  controller->setFileMask("*.*");
  if (!sundry::test::UnderWine()) {  // kWritesOverReadOnly
    EXPECT_EQ(1, Run());  // read-only ignore 0: the copy fails as on Windows
    EXPECT_EQ("old", Get(dst + "/a.txt"));
  }
  controller->setReadOnlyIgnore(1);
  EXPECT_EQ(0, Run());
  EXPECT_EQ("new", Get(dst + "/a.txt"));
  EXPECT_TRUE(sundry::test::HasFileMode(dst + "/a.txt", 0444));
}

TEST_F(CopyJobTest, ExceptedFilesAreArchivedButNotCopied) {
  Put(src, "a.txt", "a");
  Put(src, "b.txt", "b");
  Put(src, "c.txt", "c");
  Put(dst, "a.txt", "old a");
  controller->setFileMask("*.txt");
  controller->setCopyFileExceptions((src + "\\A.TXT").c_str());
  controller->setCopyFileExceptions("B.txt");
  controller->setArchiveDir(arc.c_str(), 0);
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Codes{2, 3, 4, 6, 6, 6, 7, 0}), recorder.Codes());
  EXPECT_EQ((Names{"c.txt"}), recorder.Names(7));
  EXPECT_EQ("old a", Get(dst + "/a.txt"));
  EXPECT_EQ("old a", Get(arc + "/a.txt"));
  EXPECT_FALSE(Exists(dst + "/b.txt"));
}

TEST_F(CopyJobTest, RenameSuffixNeverReplacesAnEarlierRename) {
  Put(src, "a.txt", "new");
  Put(dst, "a.txt", "old");
  controller->setFileMask("*.txt");
  controller->setRename(".bak");
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Codes{2, 6, 15, 7, 0}), recorder.Codes());
  EXPECT_EQ("old", Get(dst + "/a.txt.bak"));
  EXPECT_EQ("new", Get(dst + "/a.txt"));
  Put(src, "a.txt", "newer");
  recorder.events.clear();
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Codes{2, 6, 16, 7, 0}), recorder.Codes());
  EXPECT_EQ("old", Get(dst + "/a.txt.bak"));
  EXPECT_EQ("newer", Get(dst + "/a.txt"));
}

TEST_F(CopyJobTest, RemoveSourceKeepsNamedFiles) {
  Put(src, "a.txt", "a");
  Put(src, "b.txt", "b");
  CStringArray keep;
  keep.Add("A.TXT");
  controller->setFileMask("*.*");
  controller->removeSourceFiles(1, &keep);
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Names{"b.txt"}), recorder.Names(10));
  EXPECT_TRUE(Exists(src + "/a.txt"));
  EXPECT_FALSE(Exists(src + "/b.txt"));
  EXPECT_EQ("b", Get(dst + "/b.txt"));
}

TEST_F(CopyJobTest, EmptyFilesAreCopied) {
  Put(src, "empty1", "");
  Put(src, "empty2", "");
  controller->setFileMask("*.*");
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(Exists(dst + "/empty1"));
  EXPECT_TRUE(Exists(dst + "/empty2"));
  EXPECT_EQ((Names{"empty1", "empty2"}), recorder.Names(7));
}

TEST_F(CopyJobTest, StopDuringTheCopyRestoresAndEndsTheThread) {
  Put(src, "a.txt", "new a");
  Put(src, "sub/b.txt", "b");
  Put(dst, "a.txt", "old a");
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  controller->setArchiveDir(arc.c_str(), 1);
  DWORD worker = 0;
  recorder.onEvent = [&](const CopyEvent& e) {
    if (e.code == 7 && e.name == "a.txt") PostThreadMessageA(worker = GetCurrentThreadId(), WM_KILLCOPY, 0, 0);
  };
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Codes{2, 3, 4, 6, 7, 12, 13, 1}), recorder.Codes());
  EXPECT_EQ("old a", Get(dst + "/a.txt"));
  EXPECT_FALSE(Exists(dst + "/sub/b.txt"));
  controller->Join();
  EXPECT_EQ(1, controller->isDead());
  EXPECT_EQ(1, controller->isDying());
  EXPECT_NE(0u, worker);
}

TEST_F(CopyJobTest, StopWhileCountingFailsTheJob) {
  Put(src, "a.txt", "a");
  controller->setFileMask("*.*");
  // The first job's last callback posts a second job and a stop behind it:
  // the second job finds the stop while it counts.
  recorder.onEvent = [&](const CopyEvent& e) {
    if (e.code == 0) {
      PostThreadMessageA(GetCurrentThreadId(), WM_COPYFILES, 0, 0);
      PostThreadMessageA(GetCurrentThreadId(), WM_KILLCOPY, 0, 0);
      recorder.onEvent = nullptr;
    }
  };
  EXPECT_EQ(0, Run());
  std::filesystem::remove(dst + "/a.txt");
  ASSERT_TRUE(recorder.WaitForJobs(2));
  EXPECT_EQ((Codes{2, 6, 7, 0, 1, 1}), recorder.Codes());
  EXPECT_FALSE(Exists(dst + "/a.txt"));
}

TEST_F(CopyJobTest, CreateDirectoryMakesOneLevel) {
  Put(dir.path(), "file", "x");
  EXPECT_EQ(1, controller->createDirectory(dir.file("file").c_str()));
  EXPECT_EQ(0, controller->createDirectory(dir.file("no/such").c_str()));
  EXPECT_EQ(0, controller->createDirectory(nullptr));
  EXPECT_EQ(0, controller->createDirectory(""));
  EXPECT_EQ(1, controller->createDirectory(dir.file("new").c_str()));
  EXPECT_TRUE(Exists(dir.file("new")));
}

TEST_F(CopyJobTest, FailuresInSubDirectoriesFailTheJob) {
  Put(src, "sub/x.txt", "x");
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  Put(dst, "sub", "a file where the directory goes");
  EXPECT_EQ(1, Run());  // the file copy inside fails
  std::filesystem::remove(dst + "/sub");
  std::filesystem::remove(dst);
  recorder.events.clear();
  EXPECT_EQ(1, Run());  // the sub-directory cannot be made
  EXPECT_EQ((Names{"sub"}), recorder.Names(8));
  controller->continueOnFail(1);
  recorder.events.clear();
  EXPECT_EQ(0, Run());
}

TEST_F(CopyJobTest, OverlappingMasksHandleEachNameOnce) {
  Put(src, "a.txt", "new");
  Put(dst, "a.txt", "original");
  controller->setFileMask("*.txt");
  controller->setFileMask("a.*");
  controller->setArchiveDir(arc.c_str(), 0);
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Codes{2, 3, 4, 6, 7, 0}), recorder.Codes());
  EXPECT_EQ(1, recorder.events[0].count);
  EXPECT_EQ("original", Get(arc + "/a.txt"));
}

TEST_F(CopyJobTest, SameFileIsRefusedAndNothingRemoved) {
  Put(src, "a.txt", "only copy");
  controller->setCopyDir(src.c_str(), (src + "/").c_str());
  controller->setFileMask("*.*");
  controller->removeSourceFiles(1, nullptr);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Names{"a.txt"}), recorder.Names(8));
  EXPECT_EQ("only copy", Get(src + "/a.txt"));
}

TEST_F(CopyJobTest, SourceReplacedAfterItsCopyIsNotRemoved) {
  Put(src, "a.txt", "copied");
  controller->setFileMask("*.*");
  controller->removeSourceFiles(1, nullptr);
  recorder.onEvent = [&](const CopyEvent& e) {
    if (e.code == 7) {
      WriteFile(src + "/a.txt.new", "replacement");
      std::filesystem::rename(src + "/a.txt.new", src + "/a.txt");
    }
  };
  EXPECT_EQ(0, Run());
  EXPECT_EQ((Names{"a.txt"}), recorder.Names(11));
  EXPECT_EQ("replacement", Get(src + "/a.txt"));
  EXPECT_EQ("copied", Get(dst + "/a.txt"));
}

TEST_F(CopyJobTest, ProgressCountersCoverTheWholeJob) {
  Put(src, "a", std::string(100, 'a'));
  Put(src, "b", std::string(20, 'b'));
  Put(src, "sub/c", std::string(3, 'c'));
  Put(src, "sub/d", std::string(4000, 'd'));
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  EXPECT_EQ(0, Run());
  std::vector<long> counts;
  for (const CopyEvent& e : recorder.events)
    if (e.code == 6) counts.push_back(e.count);
  EXPECT_EQ((std::vector<long>{1, 2, 3, 4}), counts);
  EXPECT_EQ(4123, recorder.events.back().size);
  EXPECT_EQ(4, recorder.events.back().count);
  EXPECT_EQ(4123, recorder.events.front().size);
}

// The archive mirrors the tree; the restore puts back what this job saved,
// where it came from, and leaves alone what an earlier job left there.
TEST_F(CopyJobTest, RestorePutsBackExactlyWhatThisJobArchived) {
  Put(src, "a.txt", "new top");
  Put(src, "sub/a.txt", "new sub");
  Put(src, "sub/b.txt", "new b");
  sundry::test::UncopyableFile fails(src + "/sub/zz");
  ASSERT_TRUE(fails.made());
  Put(dst, "a.txt", "old top");
  Put(dst, "sub/a.txt", "old sub");
  Put(arc, "sub/b.txt", "stale copy of an earlier job");
  controller->setFileMask("*.*");
  controller->copySubDirectories(1);
  controller->setArchiveDir(arc.c_str(), 1);
  EXPECT_EQ(1, Run());
  EXPECT_EQ("old top", Get(dst + "/a.txt"));
  EXPECT_EQ("old sub", Get(dst + "/sub/a.txt"));
  EXPECT_EQ("new b", Get(dst + "/sub/b.txt"));
  EXPECT_EQ((Names{"a.txt", "sub\\a.txt"}), recorder.Names(13));
  const CStringArray& names = controller->copiedNames();
  ASSERT_EQ(3, names.GetSize());
  EXPECT_STREQ("a.txt {+}", names[0]);
  EXPECT_STREQ("sub\\a.txt {+}", names[1]);
  EXPECT_STREQ("sub\\b.txt", names[2]);
}

TEST_F(CopyJobTest, RestoreOfAReadOnlyCopyGivesBackTheArchivedFile) {
  if (sundry::test::UnderWine()) GTEST_SKIP() << kWritesOverReadOnly;
  Put(src, "a.txt", "new a");
  Put(src, "b.txt", "new b");
  Put(dst, "a.txt", "old a");
  ASSERT_TRUE(sundry::test::SetFileMode(src + "/a.txt", 0444));  // the copy comes out read-only
  Put(dst, "b.txt", "old b");
  ASSERT_TRUE(sundry::test::SetFileMode(dst + "/b.txt", 0444));  // and this copy fails
  controller->setFileMask("*.*");
  controller->setArchiveDir(arc.c_str(), 1);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Names{"a.txt"}), recorder.Names(13));
  EXPECT_EQ("old a", Get(dst + "/a.txt"));
  EXPECT_TRUE(sundry::test::HasFileMode(dst + "/a.txt", 0644));
}

TEST_F(CopyJobTest, RestoreReplacesEvenWithOverwriteOff) {
  Put(src, "a.txt", "new a");
  sundry::test::UncopyableFile fails(src + "/zz");
  ASSERT_TRUE(fails.made());
  Put(dst, "a.txt", "old a");
  controller->setFileMask("*.*");
  controller->overwrite(0);
  controller->setRename(".bak");
  controller->setArchiveDir(arc.c_str(), 1);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((Names{"a.txt"}), recorder.Names(13));
  EXPECT_TRUE(recorder.Names(14).empty());
  EXPECT_EQ("old a", Get(dst + "/a.txt"));
}

TEST_F(CopyJobTest, CreatableByClassNameAndStoppedByItsDestructor) {
  std::unique_ptr<CObject> object(CRuntimeClass::CreateObject("CCopyFileController"));
  auto* created = dynamic_cast<CCopyFileController*>(object.get());
  ASSERT_NE(nullptr, created);
  EXPECT_EQ(1, created->isDead());
  ASSERT_TRUE(created->CreateThread());
  for (int i = 0; i < 100 && created->isDead(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(0, created->isDead());
  EXPECT_EQ(0, created->isDying());
  object.reset();  // returns only once the thread has ended
}

}  // namespace

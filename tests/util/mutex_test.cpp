// CMutexSimple within one process and across real processes.

#include "support/testutil.h"

#include <sundry/platform/error.h>
#include <sundry/platform/sync.h>
#include <sundry/util/MutexSimple.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every test gets a runtime directory of its own.
class MutexTest : public ::testing::Test {
 protected:
  sundry::test::TempDir m_dir;
  sundry::test::ScopedEnv m_env{"XDG_RUNTIME_DIR", m_dir.path().c_str()};
};

// Reads one byte, waiting at most ten seconds; 0 on time-out or end of file.
char readByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  char c = 0;
  return poll(&p, 1, 10000) == 1 && read(fd, &c, 1) == 1 ? c : 0;
}

void send(int fd, char c) { (void)!write(fd, &c, 1); }

// A forked process running body(in, out) with pipes to and from the test;
// killed with SIGKILL when it goes out of scope.
struct Child {
  explicit Child(const std::function<void(int in, int out)>& body) {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return;
    if ((pid = fork()) == 0) {
      close(down[1]);
      close(up[0]);
      body(down[0], up[1]);
      _exit(0);
    }
    close(down[0]);
    close(up[1]);
    to = down[1];
    from = up[0];
  }
  ~Child() {
    kill9();
    close(to);
    close(from);
  }
  char ask(char c) { return write(to, &c, 1) == 1 ? readByte(from) : 0; }
  void kill9() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
  int to = -1, from = -1;
};

using sundry::test::MutexExists;

TEST_F(MutexTest, FirstClaimWinsUntilReleased) {
  SetLastError(ERROR_ALREADY_EXISTS);  // a stale code must not look like an existing mutex
  CMutexSimple first, second;
  EXPECT_TRUE(second.releaseMutex());  // holds nothing
  EXPECT_TRUE(first.getMutex("App"));
  EXPECT_TRUE(first.getMutex("Other"));  // already holding: the name is ignored
  EXPECT_FALSE(second.getMutex("App"));
  EXPECT_FALSE(second.isHeld());
  EXPECT_FALSE(MutexExists("Other"));
  EXPECT_TRUE(first.releaseMutex());
  EXPECT_TRUE(second.getMutex(nullptr));  // the stored name
  EXPECT_FALSE(first.getMutex(nullptr));
}

TEST_F(MutexTest, CopiesAndOtherThreadsNeverLeaveAClaimBehind) {
  auto holder = std::make_unique<CMutexSimple>();
  std::thread([&] { EXPECT_TRUE(holder->getMutex("App")); }).join();
  {
    CMutexSimple copy(*holder);
    EXPECT_FALSE(copy.isHeld());
    EXPECT_FALSE(copy.getMutex(nullptr));
  }
  EXPECT_TRUE(MutexExists("App"));  // the copy's end released nothing
  EXPECT_FALSE(holder->releaseMutex());  // not the claiming thread
  EXPECT_WIN32(ERROR_NOT_OWNER, GetLastError());
  EXPECT_TRUE(holder->isHeld());
  holder.reset();  // the destructor still closes the handle
  EXPECT_FALSE(MutexExists("App"));

  CMutexSimple claimed, blank;
  ASSERT_TRUE(claimed.getMutex("B"));
  claimed = blank;  // assignment gives the target's claim up
  EXPECT_FALSE(MutexExists("B"));
}

TEST_F(MutexTest, ClaimsAcrossProcessesAndAKilledHolder) {
  // The holder answers 'R' by releasing ('T'/'F') and 'C' by claiming again
  // ('Y'/'N'). It also starts a forked child and an exec'd program that
  // outlive it; neither may keep its claim alive.
  int pids[2];
  ASSERT_EQ(0, pipe(pids));
  Child holder([&](int in, int out) {
    CMutexSimple m;
    send(out, m.getMutex("App") ? 'Y' : 'N');
    pid_t kids[2] = {fork(), 0};
    if (kids[0] == 0) for (;;) pause();
    if ((kids[1] = fork()) == 0) {
      execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    (void)!write(pids[1], kids, sizeof kids);
    for (char c; read(in, &c, 1) == 1;) {
      if (c == 'R') send(out, m.releaseMutex() ? 'T' : 'F');
      if (c == 'C') send(out, m.getMutex(nullptr) ? 'Y' : 'N');
    }
  });
  pid_t orphans[2] = {0, 0};
  ASSERT_EQ(static_cast<ssize_t>(sizeof orphans), read(pids[0], orphans, sizeof orphans));
  close(pids[0]);
  close(pids[1]);
  CMutexSimple m;
  EXPECT_EQ('Y', readByte(holder.from));
  EXPECT_FALSE(m.getMutex("App"));
  EXPECT_EQ('T', holder.ask('R'));
  EXPECT_TRUE(m.getMutex("App"));
  EXPECT_EQ('N', holder.ask('C'));
  EXPECT_TRUE(m.releaseMutex());
  EXPECT_EQ('Y', holder.ask('C'));
  EXPECT_FALSE(m.getMutex("App"));
  holder.kill9();
  EXPECT_TRUE(m.getMutex("App"));
  for (pid_t p : orphans) EXPECT_EQ(0, kill(p, SIGKILL)) << "the holder's children were still alive";
}

TEST_F(MutexTest, ProcessesRacingForOneNameHaveOneWinner) {
  for (int round = 0; round < 10; ++round) {
    int gate[2];
    ASSERT_EQ(0, pipe(gate));
    std::string name = "race" + std::to_string(round);
    std::vector<std::unique_ptr<Child>> racers;
    for (int i = 0; i < 4; ++i)
      racers.push_back(std::make_unique<Child>([&](int in, int out) {
        close(gate[1]);
        char c;
        (void)!read(gate[0], &c, 1);  // end of file: all start at once
        CMutexSimple m;
        send(out, m.getMutex(name.c_str()) ? 'Y' : 'N');
        (void)!read(in, &c, 1);  // hold on until killed
      }));
    close(gate[0]);
    close(gate[1]);
    std::string answers;
    for (auto& r : racers) answers += readByte(r->from);
    std::sort(answers.begin(), answers.end());
    ASSERT_EQ("NNNY", answers) << "round " << round;
  }
}

TEST_F(MutexTest, AForkedChildNeitherKeepsNorReleasesItsParentsClaim) {
  auto m = std::make_unique<CMutexSimple>();
  ASSERT_TRUE(m->getMutex("App"));
  Child child([&](int in, int out) {
    char c = 0;
    send(out, m->releaseMutex() ? 'T' : 'F');  // its copy owns nothing
    (void)!read(in, &c, 1);
    CMutexSimple mine;
    send(out, mine.getMutex("App") ? 'Y' : 'N');
    (void)!read(in, &c, 1);
  });
  EXPECT_EQ('F', readByte(child.from));
  EXPECT_TRUE(MutexExists("App"));
  m.reset();  // at once free, though the child has copies of the descriptors
  EXPECT_FALSE(MutexExists("App"));
  EXPECT_EQ('Y', child.ask('g'));  // and the child can claim it
  EXPECT_TRUE(MutexExists("App"));
}

}  // namespace

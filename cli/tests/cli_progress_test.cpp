// qelstats on a terminal: the progress line goes to stderr while the run works
// and is gone at its end; --no-progress, or a stderr that is not a terminal,
// leaves stderr clean for scripts.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qeltesting/progress_line.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;  // EOF, or EIO once the terminal's last writer is gone
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

// Runs qelstats with stdout on a pipe and stderr on a terminal (or a pipe).
Outcome RunQelstats(std::vector<std::string> args, bool stderr_is_terminal) {
  args.insert(args.begin(), QEL_BINARY_DIR "/bin/qelstats");
  int out_pipe[2], err_pipe[2];
  EXPECT_EQ(::pipe(out_pipe), 0);
  int err_read = -1, err_write = -1;
  if (stderr_is_terminal) {
    err_read = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_EQ(::grantpt(err_read), 0);
    EXPECT_EQ(::unlockpt(err_read), 0);
    err_write = ::open(::ptsname(err_read), O_RDWR | O_NOCTTY);
    termios raw{};
    ::tcgetattr(err_write, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(err_write, TCSANOW, &raw);
  } else {
    EXPECT_EQ(::pipe(err_pipe), 0);
    err_read = err_pipe[0];
    err_write = err_pipe[1];
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    ::dup2(err_write, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_write);
  Outcome o;
  o.out = ReadAll(out_pipe[0]);
  o.err = ReadAll(err_read);
  int status = 0;
  ::waitpid(pid, &status, 0);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ::close(out_pipe[0]);
  ::close(err_read);
  return o;
}

const std::string kBaseBall = QEL_SOURCE_DIR "/VesquinDemo/datasets/BaseBall.csv";

TEST(QelstatsProgress, LineOnATerminalErasedAtTheEnd) {
  const Outcome o = RunQelstats({"univariate", "--csv", kBaseBall, "--field", "Salary"}, true);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("Processing Univariate: Salary - Reading Data"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Building Skewness and Kurtosis"), std::string::npos) << "the phase outlasts a long caption";
  EXPECT_NE(o.err.find(" 99%"), std::string::npos);
  // The last thing on the terminal blanks the line and returns to its start.
  ASSERT_FALSE(o.err.empty());
  EXPECT_EQ(o.err.back(), '\r');
  EXPECT_EQ(o.err.find('\n'), std::string::npos) << "the progress line never scrolls the terminal";
  EXPECT_EQ(o.out.find('\r'), std::string::npos) << "stdout holds the table only";
  EXPECT_NE(o.out.find("Mean"), std::string::npos);
}

TEST(QelstatsProgress, NothingWithNoProgressOrWithoutATerminal) {
  const Outcome quiet = RunQelstats({"univariate", "--csv", kBaseBall, "--field", "Salary", "--no-progress"}, true);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  const Outcome piped = RunQelstats({"univariate", "--csv", kBaseBall, "--field", "Salary", "--json"}, false);
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out.rfind("{\"Run\": true", 0), 0u) << piped.out;
}

// SIGINT (Ctrl-C) or SIGTERM in the middle of a run: the progress line is
// erased before the process dies of the signal, so the shell's prompt does not
// land behind a stale bar.
TEST(QelstatsProgress, SignalErasesTheLineBeforeDying) {
  const std::string csv = ::testing::TempDir() + "/qelstats_signal_" + std::to_string(::getpid()) + ".csv";
  {
    std::ofstream out(csv);
    out << "v\n";
    std::uint64_t x = 88172645463325252ull;  // xorshift: distinct values, so the run takes a while
    for (int i = 0; i < 4000000; ++i) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      out << (x % 1000000000) << '.' << (i % 10) << '\n';
    }
  }
  for (const int signal_number : {SIGINT, SIGTERM}) {
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const int err_write = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    termios raw{};
    ::tcgetattr(err_write, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(err_write, TCSANOW, &raw);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(err_write, 2);
      ::execl(QEL_BINARY_DIR "/bin/qelstats", "qelstats", "univariate", "--csv", csv.c_str(), "--field", "v",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(err_write);
    std::string err;
    char buf[4096];
    while (err.find("Processing Univariate") == std::string::npos) {
      pollfd p{terminal, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      const ssize_t n = ::read(terminal, buf, sizeof buf);
      if (n <= 0) break;
      err.append(buf, static_cast<std::size_t>(n));
    }
    ASSERT_NE(err.find("Processing Univariate"), std::string::npos) << err;
    ::kill(pid, signal_number);
    err += ReadAll(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal came; status " << status;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    ASSERT_GE(err.size(), 4u);
    EXPECT_EQ(err.substr(err.size() - 4), "\r\x1b[K") << "the last thing written erases the line";
  }
  std::remove(csv.c_str());
}

// While a run reads a file of many blocks, the bar shows the share of the
// file read: it rises, a step per block or so, to 100 %. So does the
// one-pass reading of the groups of --by.
TEST(QelstatsProgress, TheBarFollowsTheShareOfTheFileRead) {
  const std::string csv = ::testing::TempDir() + "/qelstats_share_" + std::to_string(::getpid()) + ".csv";
  {
    std::ofstream out(csv);
    out << "g,v\n";
    for (int i = 0; i < 200000; ++i) out << (i % 3 ? "a" : "b") << ',' << i % 977 << '\n';
  }
  for (const char* by : {"", "g"}) {
    std::vector<std::string> args = {"univariate", "--csv", csv, "--field", "v"};
    if (*by) args.insert(args.end(), {"--by", by});
    const Outcome o = RunQelstats(args, true);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<int> percents = qel::testing::ProgressPercents(o.err, "Reading Data");
    ASSERT_GE(percents.size(), 20u) << "by '" << by << "': " << o.err;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << o.err;
    EXPECT_LE(percents.front(), 5);
    EXPECT_EQ(percents.back(), 100);
  }
  std::remove(csv.c_str());
}

}  // namespace

// The presenter qelstats installs: the terminal progress line unless
// --no-progress, and the message-box texts kept for "messages".
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "cli_common.h"

namespace qelcli {
namespace {

// Points stderr somewhere else for the lifetime of the object.
class StderrTo {
 public:
  explicit StderrTo(int fd) : saved_(::dup(2)) { ::dup2(fd, 2); }
  ~StderrTo() {
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string ReadAvailable(int fd) {
  std::string out;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

void ShowPhase(qel::Presenter& presenter) {
  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Univariate: Price");
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  window->ShowTopMost();
  window->Refresh();
}

TEST(CliPresenter, CommonFlagsAreSwitches) {
  const Args args({"--no-progress", "--field", "Price", "--json"}, WithCommonFlags({"categorical"}));
  EXPECT_TRUE(args.Has("no-progress"));
  EXPECT_TRUE(args.Has("json"));
  EXPECT_EQ(args.Get("field"), "Price");
  EXPECT_TRUE(args.positional().empty());
  EXPECT_NO_THROW(args.AllowOnly(WithCommonFlags({"field", "categorical"})));
}

TEST(CliPresenter, ProgressLineOnATerminalUnlessNoProgress) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  {
    StderrTo redirect(slave);
    CliPresenter drawing(Args({}, kCommonFlags));
    ShowPhase(drawing);
    const std::string shown = ReadAvailable(master);
    EXPECT_NE(shown.find("Processing Univariate: Price - Reading Data"), std::string::npos) << shown;
    EXPECT_NE(shown.find("0%"), std::string::npos);

    CliPresenter quiet(Args({"--no-progress"}, kCommonFlags));
    qel::CancelFlag() = true;
    ShowPhase(quiet);
    EXPECT_FALSE(qel::CancelFlag()) << "a window that draws nothing still clears the flag when it loads";
    EXPECT_EQ(ReadAvailable(master), "");
  }
  ::close(slave);
  ::close(master);
}

TEST(CliPresenter, MessagesAreKeptAndPrintedOnlyInTableMode) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    StderrTo redirect(fds[1]);
    CliPresenter table(Args({}, kCommonFlags));
    table.ShowMessage("Error: Bad Parameter");
    CliPresenter json(Args({"--json"}, kCommonFlags));
    json.ShowMessage("Com_Bivariate: Bivariate_Run Numeric Data types only");
    json.ShowMessage("second");
    EXPECT_EQ(table.messages(), std::vector<std::string>{"Error: Bad Parameter"});
    EXPECT_EQ(json.messages(),
              (std::vector<std::string>{"Com_Bivariate: Bivariate_Run Numeric Data types only", "second"}));
  }
  EXPECT_EQ(ReadAvailable(fds[0]), "Error: Bad Parameter\n");
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace qelcli

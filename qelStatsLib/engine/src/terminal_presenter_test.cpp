#include "qelStatsLib/terminal_presenter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qeldata/recordset.h"
#include "qeltesting/progress_line.h"

namespace qel {
namespace {

// A pseudo-terminal: the presenter writes to `slave`, the test reads what a
// terminal would have received from `master`.
class Pty {
 public:
  explicit Pty(int columns) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave_, 0);
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);  // no newline translation: the test sees the bytes as written
    ::tcsetattr(slave_, TCSANOW, &raw);
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(columns);
    ws.ws_row = 24;
    ::ioctl(master_, TIOCSWINSZ, &ws);
  }
  ~Pty() {
    ::close(slave_);
    ::close(master_);
  }
  int slave() const { return slave_; }

  // Everything written so far.
  std::string Drain() {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

// The calls a run makes on its window, as the univariate run makes them.
void RunPhases(Presenter& presenter) {
  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Univariate: Price");
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  window->ShowTopMost();
  window->Refresh();
  window->SetStatus("Sorting Data");
  window->SetBarValue(73);
  window->Refresh();
}

TEST(TerminalPresenter, DrawsNothingWhenTheOutputIsNotATerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  TerminalPresenter presenter(fds[1]);
  EXPECT_FALSE(presenter.DrawsProgress());
  RunPhases(presenter);
  presenter.ShowMessage("Error: Numeric Data types only");
  ::close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  // The message still reaches the user; no bar, no carriage returns.
  EXPECT_EQ(out, "Error: Numeric Data types only\n");
}

TEST(TerminalPresenter, DrawsOneLineInPlaceAndErasesItAtUnload) {
  Pty pty(80);
  TerminalPresenter presenter(pty.slave());
  ASSERT_TRUE(presenter.DrawsProgress());

  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Univariate: Price");
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  EXPECT_EQ(pty.Drain(), "") << "nothing is drawn before the window is shown";

  window->ShowTopMost();
  const std::string first = pty.Drain();
  EXPECT_EQ(first, TerminalPresenter::FormatLine("Processing Univariate: Price", "Reading Data", 0, 80));
  EXPECT_NE(first.find("Processing Univariate: Price - Reading Data"), std::string::npos);
  EXPECT_NE(first.find("  0%"), std::string::npos);

  window->Refresh();
  EXPECT_EQ(pty.Drain(), "") << "an unchanged line is not drawn again";

  window->SetStatus("Sorting Data");
  window->SetBarValue(73);
  const std::string second = pty.Drain();
  // Each redraw goes back to the start of the line and blanks the old one.
  const std::string blank_first = "\r" + std::string(first.size(), ' ') + "\r";
  ASSERT_EQ(second.rfind(blank_first, 0), 0u) << second;
  EXPECT_NE(second.find("Sorting Data"), std::string::npos);
  EXPECT_NE(second.find(" 73%"), std::string::npos);
  EXPECT_EQ(second.find('\n'), std::string::npos);

  const std::string drawn = second.substr(second.rfind('\r') + 1);  // the last redraw
  EXPECT_EQ(drawn, TerminalPresenter::FormatLine("Processing Univariate: Price", "Sorting Data", 73, 80));
  window.reset();
  EXPECT_EQ(pty.Drain(), "\r" + std::string(drawn.size(), ' ') + "\r");
}

TEST(TerminalPresenter, MessageMovesTheLineBelowIt) {
  Pty pty(60);
  TerminalPresenter presenter(pty.slave());
  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Bivariate");
  window->ShowTopMost();
  const std::string line = pty.Drain();
  presenter.ShowMessage("Com_Bivariate: Bivariate_Run Bad field");
  EXPECT_EQ(pty.Drain(), "\r" + std::string(line.size(), ' ') + "\r" + "Com_Bivariate: Bivariate_Run Bad field\n" + line);
}

TEST(TerminalPresenter, NoProgressDrawsNothingEvenOnATerminal) {
  Pty pty(80);
  TerminalPresenter presenter(pty.slave(), /*draw_progress=*/false);
  CancelFlag() = true;
  RunPhases(presenter);
  EXPECT_FALSE(CancelFlag()) << "loading a window clears the flag even when nothing is drawn";
  presenter.ShowMessage("hello");
  EXPECT_EQ(pty.Drain(), "hello\n");
}

// A run's reading pass sets no bar: the line follows the share of the file
// read, block by block, up to 100 %, and the run's next phase takes it back.
TEST(TerminalPresenter, ReadingPassShowsTheShareOfTheFileRead) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("terminal_read_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "five_blocks.csv");
    out << "v\n";
    for (int i = 0; i < 5 * 4096; ++i) out << 100000 + i << '\n';
  }
  Pty pty(80);
  TerminalPresenter presenter(pty.slave());
  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Univariate: v");
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  window->ShowTopMost();
  pty.Drain();
  {
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open("five_blocks.csv", "Text;DBQ=" + dir.string(), qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    for (; !rs.IsEOF(); rs.MoveNext()) {
    }
  }
  const std::vector<int> percents = qel::testing::ProgressPercents(pty.Drain(), "Reading Data");
  EXPECT_EQ(percents, (std::vector<int>{20, 40, 60, 80, 100})) << "one line per block (the first at the opening)";

  window->SetStatus("Sorting Data");
  window->SetBarValue(73);
  const std::string next = pty.Drain();
  EXPECT_EQ(next.substr(next.rfind('\r') + 1),
            TerminalPresenter::FormatLine("Processing Univariate: v", "Sorting Data", 73, 80));
  window.reset();
  EXPECT_EQ(qeldata::SetReadProgress(nullptr), nullptr) << "an unloaded window follows no reads";

  // A presenter that draws nothing follows nothing either.
  TerminalPresenter quiet(pty.slave(), /*draw_progress=*/false);
  auto silent = quiet.LoadProgressWindow();
  EXPECT_EQ(qeldata::SetReadProgress(nullptr), nullptr);
  std::filesystem::remove_all(dir);
}

// Whether `s` is whole UTF-8: no sequence cut short.
bool WholeUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

TEST(TerminalPresenter, LineFitsTheTerminal) {
  // Never the last column (the terminal would wrap), at any width, and the
  // phase survives a long caption.
  for (int columns : {10, 20, 40, 80, 200}) {
    const std::string line = TerminalPresenter::FormatLine(std::string(300, 'x'), "Reading Data", 50, columns);
    EXPECT_LE(static_cast<int>(line.size()), std::max(columns, 20) - 1) << columns;
    EXPECT_EQ(line.substr(line.size() - 4), " 50%");
    if (columns >= 80) {
      EXPECT_NE(line.find("... - Reading Data ["), std::string::npos) << line;
    } else if (columns >= 40) {
      EXPECT_EQ(line.rfind("Reading Data [", 0), 0u) << line;
    }
  }
  EXPECT_EQ(TerminalPresenter::FormatLine("Processing Univariate: Salary", "Building Skewness and Kurtosis", 99, 100)
                .substr(0, 62),
            "Processing Univariate: Salary - Building Skewness and Kurtosis");
  // Clamped percentages, and a full bar at 100.
  EXPECT_EQ(TerminalPresenter::FormatLine("c", "", 250, 80), "c [" + std::string(10, '#') + "] 100%");
  EXPECT_EQ(TerminalPresenter::FormatLine("c", "", -5, 80), "c [" + std::string(10, '.') + "]   0%");
  // A caption is cut between characters, never inside one, and control
  // characters from field names do not break the line.
  for (int columns = 20; columns < 60; ++columns) {
    const std::string line = TerminalPresenter::FormatLine("Prix \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9",
                                                           "\xC3\xA9t\xC3\xA9", 0, columns);
    EXPECT_TRUE(WholeUtf8(line)) << columns << ": " << line;
  }
  EXPECT_EQ(TerminalPresenter::FormatLine("a\nb", "c\td", 0, 80).substr(0, 9), "a b - c d");
}

}  // namespace
}  // namespace qel

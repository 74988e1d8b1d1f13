#include "qelStatsLib/terminal_presenter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <vector>

#include "qeldata/recordset.h"

namespace qel {

// What every window of one presenter shares: the output and which window's
// line is on screen, so a message or an unload can erase exactly that line.
struct TerminalPresenter::Shared {
  int fd = 2;
  bool draw = false;
  std::mutex mutex;
  const void* owner = nullptr;  // the window whose line is on screen
  std::string line;             // that line, as drawn

  void Write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a closed or full terminal must never stop a run
      done += static_cast<std::size_t>(n);
    }
  }

  int Columns() const {
    winsize ws{};
    if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
  }

  // Callers hold `mutex`.
  std::string EraseSequence() const {
    if (line.empty()) return {};
    return "\r" + std::string(DisplayWidth(line), ' ') + "\r";
  }

  static std::size_t DisplayWidth(const std::string& s) {
    // One column per UTF-8 character: continuation bytes take none.
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
  }
};

namespace {

// A window on the terminal. While it draws, it follows the streaming reads of
// its thread: the reading pass of a run sets no bar of its own, so the line
// shows the share of the input read until the run moves to its next phase.
class TerminalWindow final : public ProgressWindow, private qeldata::ReadProgress {
 public:
  explicit TerminalWindow(std::shared_ptr<TerminalPresenter::Shared> shared) : shared_(std::move(shared)) {
    if (!shared_->draw) return;
    if (t_windows.empty()) t_host_progress = qeldata::SetReadProgress(this);
    else qeldata::SetReadProgress(this);
    t_windows.push_back(this);
  }

  ~TerminalWindow() override {
    if (!shared_->draw) return;
    // The reads go on to the window loaded last that is still up, in
    // whatever order windows unload, or to what the host had before.
    const auto it = std::find(t_windows.begin(), t_windows.end(), this);
    if (it != t_windows.end()) {
      t_windows.erase(it);
      qeldata::SetReadProgress(t_windows.empty() ? t_host_progress : t_windows.back());
    }
    std::lock_guard lock(shared_->mutex);
    if (shared_->owner != this) return;
    shared_->Write(shared_->EraseSequence());
    shared_->owner = nullptr;
    shared_->line.clear();
  }

  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    Draw();
  }
  void SetStatus(const std::string& text) override {
    status_ = text;
    read_value_.reset();
    Draw();
  }
  void SetBarValue(int value) override {
    value_ = value;
    read_value_.reset();
    Draw();
  }
  void ShowTopMost() override {
    shown_ = true;
    Draw();
  }
  void Refresh() override { Draw(); }

 private:
  // Redraws only what changed, so a run that updates its bar often costs the
  // terminal nothing between visible steps.
  void Draw() {
    if (!shown_ || !shared_->draw) return;
    std::lock_guard lock(shared_->mutex);
    const std::string line =
        TerminalPresenter::FormatLine(caption_, status_, read_value_.value_or(value_), shared_->Columns());
    if (shared_->owner == this && shared_->line == line) return;
    std::string out = shared_->EraseSequence();
    out += line;
    shared_->Write(out);
    shared_->owner = this;
    shared_->line = line;
  }

  // A block of the input was read: the bar shows the whole percent of it,
  // redrawn only when that changes (a long read makes a hundred lines at most).
  void Advanced(double share) noexcept override {
    const int percent = static_cast<int>(std::clamp(share, 0.0, 1.0) * 100);
    if (read_value_ == percent) return;
    read_value_ = percent;
    try {
      Draw();
    } catch (...) {
      // A line that cannot be drawn must never stop the read.
    }
  }

  std::shared_ptr<TerminalPresenter::Shared> shared_;
  std::string caption_ = "Bivariate Processing";  // a fresh window's caption
  std::string status_ = "Processing Your Request";
  int value_ = 0;
  std::optional<int> read_value_;  // the share read, in the reading pass
  bool shown_ = false;

  // The drawing windows of this thread, in loading order, and the thread's
  // read progress before the first of them.
  static thread_local std::vector<TerminalWindow*> t_windows;
  static thread_local qeldata::ReadProgress* t_host_progress;
};

thread_local std::vector<TerminalWindow*> TerminalWindow::t_windows;
thread_local qeldata::ReadProgress* TerminalWindow::t_host_progress = nullptr;

// Cuts `s` to at most `columns` characters without splitting a UTF-8 sequence.
std::string CutToColumns(const std::string& s, std::size_t columns) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars == columns) return s.substr(0, i);
    ++chars;
  }
  return s;
}

}  // namespace

TerminalPresenter::TerminalPresenter(int fd, bool draw_progress) : shared_(std::make_shared<Shared>()) {
  shared_->fd = fd;
  shared_->draw = draw_progress && ::isatty(fd) == 1;
}

TerminalPresenter::~TerminalPresenter() = default;

std::unique_ptr<ProgressWindow> TerminalPresenter::LoadProgressWindow() {
  CancelFlag() = false;
  return std::make_unique<TerminalWindow>(shared_);
}

void TerminalPresenter::ShowMessage(const std::string& text) {
  std::lock_guard lock(shared_->mutex);
  std::string out = shared_->EraseSequence();
  out += text;
  out += '\n';
  out += shared_->line;  // the progress line comes back below the message
  shared_->Write(out);
}

bool TerminalPresenter::DrawsProgress() const { return shared_->draw; }

std::string TerminalPresenter::FormatLine(const std::string& caption, const std::string& status, int value,
                                          int columns) {
  value = std::clamp(value, 0, 100);
  const std::size_t usable = static_cast<std::size_t>(std::max(columns, 20) - 1);
  const std::size_t bar_width = std::clamp<std::size_t>(usable / 8, 10, 30);
  const std::size_t filled = bar_width * static_cast<std::size_t>(value) / 100;

  std::string pct = std::to_string(value) + "%";
  pct.insert(0, 4 - pct.size(), ' ');
  const std::string bar = " [" + std::string(filled, '#') + std::string(bar_width - filled, '.') + "] " + pct;

  // The phase says most: when the line is short, the caption gives way first.
  std::string head = caption, tail = status;
  for (std::string* part : {&head, &tail})
    for (char& c : *part)  // a field name with a line break or a tab must not break the line
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  const std::size_t room = usable > bar.size() ? usable - bar.size() : 0;
  const std::string separator = head.empty() || tail.empty() ? "" : " - ";
  tail = CutToColumns(tail, room);
  const std::size_t tail_width = Shared::DisplayWidth(tail);
  const std::size_t head_room = room > tail_width + separator.size() ? room - tail_width - separator.size() : 0;
  if (Shared::DisplayWidth(head) > head_room) {
    // Too little room for a useful piece of the caption: show the phase alone.
    head = head_room >= 8 ? CutToColumns(head, head_room - 3) + "..." : "";
  }
  return head + (head.empty() ? "" : separator) + tail + bar;
}

}  // namespace qel

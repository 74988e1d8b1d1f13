// The library's windows on a terminal: the default presenter of a process that
// runs no window system (qelstats, scripts, services).
//
// A loaded progress window becomes one line on the terminal, redrawn in place:
//
//   Processing Univariate: Price - Sorting Data [##############......]  73%
//
// It appears when the run shows its window, follows every caption, status and
// bar change, and is erased when the window unloads, so the terminal is left as
// it was. While a run reads its input, which sets no bar, the bar shows the
// share of the input read so far (the bytes of a text file, or the rows
// where the database said how many; see qeldata::ReadProgress), from the first block the window sees to 100 %;
// the run's next status or bar value takes the line back. Nothing is drawn when the output is not a terminal (a pipe, a file, a
// test harness). Message texts are written to the output, one per line, always.
#pragma once

#include <memory>
#include <string>

#include "qelStatsLib/presenter.h"

namespace qel {

class TerminalPresenter final : public Presenter {
 public:
  // Writes to the file descriptor `fd` (not owned; stderr by default). The
  // progress line is drawn only when `draw_progress` is true and `fd` is a
  // terminal at construction.
  explicit TerminalPresenter(int fd = 2, bool draw_progress = true);
  ~TerminalPresenter() override;

  // Loading clears the calling thread's cancel flag. The window may outlive
  // the presenter.
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override;
  // Writes `text` and a newline; a progress line on screen is erased first and
  // drawn again below the message.
  void ShowMessage(const std::string& text) override;

  // Whether progress windows draw their line.
  bool DrawsProgress() const;

  // The progress line for a terminal `columns` wide: the caption, the status
  // text, a bar and the percentage. It never reaches the last column, so the
  // terminal does not wrap it, and a caption that does not fit is cut at a
  // character boundary. `value` is clamped to 0..100.
  static std::string FormatLine(const std::string& caption, const std::string& status, int value, int columns);

  struct Shared;  // the output, shared with the windows this presenter loaded

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace qel

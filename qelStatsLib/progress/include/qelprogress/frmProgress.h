// frmProgress: the small top-most window that tells the user which phase a run
// is in and how far it has come, with a Cancel button.
//
// Each run that shows its status creates one, loads it (which clears the
// thread's cancel flag and places it at 1350, 1250 twips on the screen), sets
// its caption, status text and bar, makes it top-most with modFormModal's
// SetWindowPos, repaints it at each phase and deletes it at its end. It is
// never modal: the run keeps working on the same thread while it shows.
#pragma once

#include <QWidget>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qel {

// Twips (1/1440 inch, 15 to a pixel at 96 dots per inch) to device-independent
// pixels, rounded to the nearest pixel. Qt scales those for the screen.
constexpr int TwipsToPixels(int twips) { return (twips + 7) / 15; }

class frmProgress : public QWidget {
  Q_OBJECT

 public:
  // Loads the window, hidden: client area 4680 × 1905 twips, caption
  // "Bivariate Processing", at 1350, 1250 twips. Clears the calling thread's
  // cancel flag.
  explicit frmProgress(QWidget* parent = nullptr);
  ~frmProgress() override;

  QLabel* Label1;              // the status text, "Processing Your Request" at first
  QProgressBar* ProgressBar1;  // 0 to 100, showing its value as a percentage, "0%" at first
  QPushButton* cmdCancel;      // "Cancel": sets the cancel flag

 protected:
  // Closing the window from its title bar asks the run to stop, as Cancel does;
  // the window itself stays until the run unloads it.
  void closeEvent(QCloseEvent* event) override;

 private:
  void cmdCancel_Click();
};

}  // namespace qel

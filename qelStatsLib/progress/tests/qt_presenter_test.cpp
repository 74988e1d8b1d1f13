#include "qelprogress/qt_presenter.h"

#include <gtest/gtest.h>

#include <QMetaObject>
#include <QPushButton>
#include <thread>

#include "qelprogress/frmProgress.h"
#include "qeltesting/message_box_driver.h"
#include "qelStatsLib/recording_presenter.h"
#include "qelStatsLib/terminal_presenter.h"
#include "window_spy.h"

namespace qel {
namespace {

// The window calls of a run with four phases, as the univariate run makes them.
void FourPhases(Presenter& presenter) {
  auto window = presenter.LoadProgressWindow();
  window->SetCaption("Processing Univariate: Salary");
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  window->ShowTopMost();
  window->Refresh();
  const std::pair<const char*, int> phases[] = {
      {"Sorting Data", 73}, {"Building Summary Statistics", 58}, {"Building Skewness and Kurtosis", 99}};
  for (const auto& [status, bar] : phases) {
    window->SetStatus(status);
    window->SetBarValue(bar);
    window->Refresh();
  }
}

TEST(QtPresenter, ChosenOnTheApplicationThreadOnly) {
  EXPECT_NE(dynamic_cast<QtPresenter*>(&CurrentPresenter()), nullptr);
  std::thread([] {
    // Widgets cannot live on a worker thread: a run there talks to the terminal.
    EXPECT_NE(dynamic_cast<TerminalPresenter*>(&CurrentPresenter()), nullptr);
  }).join();
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  EXPECT_EQ(&CurrentPresenter(), &rec) << "a presenter the host installs still wins";
}

TEST(QtPresenter, RunShowsOneTopMostModelessWindowPhaseByPhaseAndUnloadsIt) {
  WindowSpy spy;
  FourPhases(CurrentPresenter());
  const QString caption = "Processing Univariate: Salary";
  EXPECT_EQ(spy.shots(), (std::vector<WindowShot>{
                             {caption, "Reading Data", 0, "0%", true, false},
                             {caption, "Sorting Data", 73, "73%", true, false},
                             {caption, "Building Summary Statistics", 58, "58%", true, false},
                             {caption, "Building Skewness and Kurtosis", 99, "99%", true, false},
                         }));
  EXPECT_EQ(spy.windows(), 1u);
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0) << "the window is unloaded at the end of the run";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // The recording presenter sees the same run as the same sequence.
  RecordingPresenter rec;
  FourPhases(rec);
  EXPECT_EQ(rec.statuses(), (std::vector<std::string>{"Reading Data", "Sorting Data", "Building Summary Statistics",
                                                      "Building Skewness and Kurtosis"}));
  EXPECT_EQ(rec.bar_values(), (std::vector<int>{0, 73, 58, 99}));
}

TEST(QtPresenter, EachRunGetsANewWindowAtTheSamePlace) {
  auto first = CurrentPresenter().LoadProgressWindow();
  first->ShowTopMost();
  auto second = CurrentPresenter().LoadProgressWindow();
  second->ShowTopMost();
  std::vector<QWidget*> forms;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "frmProgress") forms.push_back(w);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[0]->pos(), forms[1]->pos());
  first.reset();
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 1);
  second.reset();
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0);
}

TEST(QtPresenter, CancelLandsOnlyAtACheckpoint) {
  CancelFlag() = true;
  auto window = CurrentPresenter().LoadProgressWindow();
  EXPECT_FALSE(CancelFlag()) << "loading clears the flag";
  window->ShowTopMost();
  frmProgress* form = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* f = qobject_cast<frmProgress*>(w)) form = f;
  ASSERT_NE(form, nullptr);

  // A click waits in the queue while the run works without checkpoints...
  QMetaObject::invokeMethod(form->cmdCancel, &QPushButton::click, Qt::QueuedConnection);
  window->SetStatus("Sorting Data");
  window->SetBarValue(73);
  window->Refresh();
  EXPECT_FALSE(CancelFlag());
  // ...and lands at the next one, which reads it.
  EXPECT_TRUE(Checkpoint());
  window.reset();
  EXPECT_TRUE(CancelFlag()) << "unloading leaves the flag alone";
  CancelFlag() = false;
}

TEST(QtPresenter, MessageBoxIsModalWithOkOnlyAndDrivenWithoutWaiting) {
  MessageBoxDriver driver;
  CurrentPresenter().ShowMessage("Error: Bad Parameter");
  CurrentPresenter().ShowMessage("Com_Bivariate: Bivariate_Run Numeric Data types only");
  ASSERT_EQ(driver.seen().size(), 2u);
  const auto& box = driver.seen()[0];
  EXPECT_EQ(box.text, "Error: Bad Parameter");
  EXPECT_EQ(box.title, QtPresenter::MessageTitle());
  EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_TRUE(box.application_modal);
  EXPECT_TRUE(box.stays_on_top) << "a box under a top-most progress window would be hidden";
  EXPECT_EQ(driver.seen()[1].text, "Com_Bivariate: Bivariate_Run Numeric Data types only");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace qel


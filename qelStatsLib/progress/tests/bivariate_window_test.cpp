// The bivariate run in a Qt program: the one run that lets window events run
// at its checkpoints, so a click on Cancel stops it, and whose failures show a
// message box.
#include <gtest/gtest.h>

#include <QMetaObject>
#include <QPushButton>
#include <memory>

#include "qelprogress/frmProgress.h"
#include "qeltesting/message_box_driver.h"
#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/recordset.h"
#include "window_spy.h"

namespace qel {
namespace {

std::unique_ptr<qeldata::Recordset> Table() {
  auto rs = std::make_unique<qeldata::Recordset>();
  rs->GetFields().Append("Age", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->GetFields().Append("Salary", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->Open();
  for (int i = 0; i < 40; ++i) {
    rs->AddNew();
    rs->GetFields().Item(0).SetValue(qeldata::Value(20.0 + i));
    rs->GetFields().Item(1).SetValue(qeldata::Value(1000.0 * (i % 7) + i));
    rs->Update();
  }
  return rs;
}

// Clicks Cancel, through the event queue as a user would, the first time the
// window paints its status.
class ClickCancelOnFirstPaint : public QObject {
 public:
  ClickCancelOnFirstPaint() { qApp->installEventFilter(this); }
  ~ClickCancelOnFirstPaint() override { qApp->removeEventFilter(this); }
  bool clicked = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!clicked && event->type() == QEvent::Paint && watched->objectName() == "Label1") {
      if (auto* form = qobject_cast<frmProgress*>(static_cast<QWidget*>(watched)->window())) {
        QMetaObject::invokeMethod(form->cmdCancel, &QPushButton::click, Qt::QueuedConnection);
        clicked = true;
      }
    }
    return false;
  }
};

TEST(BivariateWindow, RunsToItsEndWithoutACancel) {
  auto rs = Table();
  MessageBoxDriver driver;
  WindowSpy spy;
  EXPECT_NE(Bivariate_Run(*rs, "Age", "Salary", true, "", 4), nullptr);
  EXPECT_FALSE(CancelFlag());
  EXPECT_EQ(spy.windows(), 1u);
  ASSERT_FALSE(spy.shots().empty());
  EXPECT_EQ(spy.shots().front().caption, "Processing Bivariate: Age");
  EXPECT_TRUE(spy.shots().front().top_most);
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0);
  EXPECT_TRUE(driver.seen().empty());
}

TEST(BivariateWindow, CancelStopsTheRunAtItsNextCheckpoint) {
  auto rs = Table();
  MessageBoxDriver driver;
  ClickCancelOnFirstPaint click;
  EXPECT_EQ(Bivariate_Run(*rs, "Age", "Salary", true, "", 4), nullptr);
  EXPECT_TRUE(click.clicked);
  EXPECT_TRUE(CancelFlag());
  EXPECT_EQ(BivariateRunRecord().N, 0) << "stopped before reading";
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0) << "a cancelled run unloads its window too";
  EXPECT_TRUE(driver.seen().empty()) << "a cancel is no failure";
  CancelFlag() = false;
}

TEST(BivariateWindow, FailureShowsAModalMessageAnsweredWithoutWaiting) {
  auto rs = Table();
  MessageBoxDriver driver;
  EXPECT_EQ(Bivariate_Run(*rs, "NoSuchField", "Salary", true, "", 4), nullptr);
  ASSERT_EQ(driver.seen().size(), 1u);
  EXPECT_TRUE(driver.seen()[0].text.startsWith("Com_Bivariate: Bivariate_Run ")) << driver.seen()[0].text.toStdString();
  EXPECT_EQ(driver.seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_TRUE(CancelFlag()) << "a failed bivariate run sets the flag";
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0);
  CancelFlag() = false;
}

}  // namespace
}  // namespace qel


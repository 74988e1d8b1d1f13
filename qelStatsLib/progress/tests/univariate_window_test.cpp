// The univariate run's progress window in a Qt program, observed through what
// the window painted while the run worked.
#include <gtest/gtest.h>

#include <QMetaObject>
#include <QPushButton>
#include <memory>

#include "qelprogress/frmProgress.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeldata/recordset.h"
#include "window_spy.h"

namespace qel {
namespace {

std::unique_ptr<qeldata::Recordset> Salaries() {
  auto rs = std::make_unique<qeldata::Recordset>();
  rs->GetFields().Append("Salary", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->Open();
  for (double x : {1.0, 2.0, 2.0, 3.0, 10.0}) {
    rs->AddNew();
    rs->GetFields().Item(0).SetValue(qeldata::Value(x));
    rs->Update();
  }
  return rs;
}

TEST(UnivariateWindow, ShowsTheFourPhasesInOneTopMostWindowAndUnloadsIt) {
  auto rs = Salaries();
  WindowSpy spy;
  CancelFlag() = true;
  ASSERT_TRUE(Univariate_Run(*rs, "Salary", "", true));
  EXPECT_FALSE(CancelFlag()) << "the run's window cleared the flag when it loaded";
  EXPECT_DOUBLE_EQ(UnivariateRunRecord().Mean, 3.6);

  const QString caption = "Processing Univariate: Salary";
  EXPECT_EQ(spy.shots(), (std::vector<WindowShot>{
                             {caption, "Reading Data", 0, "0%", true, false},
                             {caption, "Sorting Data", 73, "73%", true, false},
                             {caption, "Building Summary Statistics", 58, "58%", true, false},
                             {caption, "Building Skewness and Kurtosis", 99, "99%", true, false},
                         }));
  EXPECT_EQ(spy.windows(), 1u);
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // Without a window system the same run tells the same story.
  RecordingPresenter rec;
  {
    ScopedPresenter use(&rec);
    auto again = Salaries();
    ASSERT_TRUE(Univariate_Run(*again, "Salary", "", true));
  }
  EXPECT_EQ(rec.windows_loaded(), 1);
  EXPECT_EQ(rec.windows_open(), 0);
  std::vector<WindowShot> recorded;
  for (std::size_t i = 0; i < rec.statuses().size(); ++i)
    recorded.push_back({caption, QString::fromStdString(rec.statuses()[i]), rec.bar_values()[i],
                        QString::number(rec.bar_values()[i]) + "%", true, false});
  EXPECT_EQ(recorded, spy.shots());
}

TEST(UnivariateWindow, NoWindowWithoutShowStatusAndTheCancelFlagIsLeftAlone) {
  auto rs = Salaries();
  WindowSpy spy;
  for (bool flag : {true, false}) {
    CancelFlag() = flag;
    ASSERT_TRUE(Univariate_Run(*rs, "Salary", "", false));
    EXPECT_EQ(CancelFlag(), flag);
  }
  EXPECT_EQ(spy.windows(), 0u);
  EXPECT_EQ(WindowSpy::OpenProgressWindows(), 0);
}

// The univariate run has no checkpoints: a click on Cancel waits in the queue
// and the run goes to its end.
class ClickCancelOnFirstPaint : public QObject {
 public:
  ClickCancelOnFirstPaint() { qApp->installEventFilter(this); }
  ~ClickCancelOnFirstPaint() override { qApp->removeEventFilter(this); }
  bool clicked = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!clicked && event->type() == QEvent::Paint && watched->objectName() == "Label1") {
      auto* form = qobject_cast<frmProgress*>(static_cast<QWidget*>(watched)->window());
      if (form) {
        QMetaObject::invokeMethod(form->cmdCancel, &QPushButton::click, Qt::QueuedConnection);
        clicked = true;
      }
    }
    return false;
  }
};

TEST(UnivariateWindow, CancelDoesNotStopARunWithoutCheckpoints) {
  auto rs = Salaries();
  ClickCancelOnFirstPaint click;
  EXPECT_TRUE(Univariate_Run(*rs, "Salary", "", true));
  EXPECT_TRUE(click.clicked);
  EXPECT_FALSE(CancelFlag());
  EXPECT_NEAR(UnivariateRunRecord().Kurtosis, 4.27214653174, 1e-10) << "the run went to its end";
}

}  // namespace
}  // namespace qel


#include "qelprogress/frmProgress.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "qelprogress/modFormModal.h"
#include "qelStatsLib/presenter.h"

namespace qel {
namespace {

TEST(frmProgress, ControlsSitWhereTheFormPutsThem) {
  frmProgress form;
  EXPECT_EQ(form.objectName(), "frmProgress");
  EXPECT_EQ(form.windowTitle(), "Bivariate Processing");
  // Twips at 15 to the pixel: client area 4680 x 1905, loaded at 1350, 1250.
  EXPECT_EQ(form.size(), QSize(312, 127));
  EXPECT_EQ(form.pos(), QPoint(90, 83));
  EXPECT_FALSE(form.isVisible()) << "loading does not show";

  EXPECT_EQ(form.Label1->objectName(), "Label1");
  EXPECT_EQ(form.Label1->geometry(), QRect(8, 8, 217, 41));
  EXPECT_EQ(form.Label1->text(), "Processing Your Request");

  EXPECT_EQ(form.ProgressBar1->objectName(), "ProgressBar1");
  EXPECT_EQ(form.ProgressBar1->geometry(), QRect(8, 56, 297, 25));
  EXPECT_EQ(form.ProgressBar1->value(), 0);
  EXPECT_EQ(form.ProgressBar1->text(), "0%");
  form.ProgressBar1->setValue(73);
  EXPECT_EQ(form.ProgressBar1->text(), "73%");
  form.ProgressBar1->setValue(99);
  EXPECT_EQ(form.ProgressBar1->text(), "99%") << "the bar's last step must not read 100%";

  EXPECT_EQ(form.cmdCancel->objectName(), "cmdCancel");
  EXPECT_EQ(form.cmdCancel->geometry(), QRect(104, 96, 105, 25));
  EXPECT_EQ(form.cmdCancel->text(), "Cancel");
}

TEST(frmProgress, LoadingClearsTheCancelFlagAndCancelSetsIt) {
  CancelFlag() = true;
  auto* form = new frmProgress;
  EXPECT_FALSE(CancelFlag());
  form->show();
  QTest::mouseClick(form->cmdCancel, Qt::LeftButton);
  EXPECT_TRUE(CancelFlag());
  delete form;
  EXPECT_TRUE(CancelFlag()) << "unloading leaves the flag alone";

  // Closing from the title bar asks to stop too, and leaves the window to the run.
  frmProgress second;
  EXPECT_FALSE(CancelFlag());
  second.show();
  EXPECT_FALSE(second.close());
  EXPECT_TRUE(CancelFlag());
  EXPECT_TRUE(second.isVisible());
  CancelFlag() = false;
}

TEST(modFormModal, TopMostWithoutMovingOrResizing) {
  frmProgress form;
  const QPoint pos = form.pos();
  const QSize size = form.size();
  EXPECT_EQ(SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW, 0x43u);
  EXPECT_NE(SetWindowPos(&form, HWND_TOPMOST, 0, 0, 0, 0, 0x43), 0);
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isModal());
  EXPECT_EQ(form.windowModality(), Qt::NonModal);
  EXPECT_EQ(form.pos(), pos);
  EXPECT_EQ(form.size(), size);

  // Dropping top-most on a shown window keeps it shown and in place.
  EXPECT_NE(SetWindowPos(&form, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE), 0);
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.pos(), pos);

  // Without the flags the position is applied, and the order is left alone.
  EXPECT_NE(SetWindowPos(&form, HWND_TOPMOST, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW), 0);
  EXPECT_EQ(form.pos(), QPoint(200, 150));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form.isVisible());

  EXPECT_EQ(SetWindowPos(nullptr, HWND_TOPMOST, 0, 0, 0, 0, 0x43), 0);
  EXPECT_EQ(SetWindowPos(form.Label1, HWND_TOPMOST, 0, 0, 0, 0, 0x43), 0) << "a control is not a window";
}

}  // namespace
}  // namespace qel


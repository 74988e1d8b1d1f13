// The about box: its texts, its buttons, and its menu entry.
#include "frmAbout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "frmMain.h"
#include "qeltesting/message_box_driver.h"

namespace {

TEST(AboutBox, ShowsTitleVersionAndItsTexts) {
  frmAbout about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About VesquinDemo"));
  EXPECT_EQ(about.lblTitle->text(), QStringLiteral("VesquinDemo"));
  EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version 1.0.13"));
  EXPECT_EQ(about.lblDescription->text(),
            QStringLiteral("Fully functional application to demonstrate the various functions and features of the "
                           "Orvanto Statisical Library. While this application is not intended to be a full "
                           "Exploratory Data Analysis tool, it does allow a user or programmer to explore many of "
                           "the capabilitites of the statistical library."));
  EXPECT_EQ(about.lblDisclaimer->text(),
            QStringLiteral("Warning: ... This application is considered BETA and is subject to change and "
                           "revision without notice. "));
  EXPECT_EQ(about.cmdOK->text(), QStringLiteral("OK"));
  EXPECT_EQ(about.cmdSysInfo->text(), QStringLiteral("&System Info..."));
  EXPECT_EQ(about.size(), QSize(382, 237));  // 5730 x 3555 twips
  EXPECT_TRUE(about.isModal());
}

TEST(AboutBox, SystemInfoWithoutAToolSaysSoAndOkCloses) {
  const QByteArray path = qgetenv("PATH");
  QTemporaryDir empty;
  qputenv("PATH", empty.path().toUtf8());
  qel::MessageBoxDriver closer;
  frmAbout about;
  about.show();
  about.cmdSysInfo->click();
  qputenv("PATH", path);
  ASSERT_EQ(closer.texts().size(), 1);
  EXPECT_EQ(closer.texts()[0], QStringLiteral("System Information Is Unavailable At This Time"));
  about.cmdOK->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutBox, TheHelpMenuShowsItModally) {
  qel::MessageBoxDriver closer;
  frmMain window;
  window.mnuHelpAbout->trigger();
  ASSERT_EQ(closer.titles().size(), 1);
  EXPECT_EQ(closer.titles()[0], QStringLiteral("About VesquinDemo"));
}

}  // namespace

// The shared routines: the conversions of the option and result boxes, the
// dataset connection, the system information start and the help windows.
#include "modCommon.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpSearchEngine>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include "HelpWindow.h"
#include "frmMain.h"
#include "qeltesting/message_box_driver.h"

namespace {

TEST(BinsText, LeadingNumberRoundedHalfToEvenWithinSixteenBits) {
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("10")), 10);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("12.5")), 12);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("13.5")), 14);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("7abc")), 7);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("")), 0);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("abc")), 0);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("  -3.5x")), -4);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("1e1")), 10);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("2e")), 2);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("32767.4")), 32767);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("-32768")), -32768);
  // Outside the 16-bit range the class default is left alone.
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("32767.5")), std::nullopt);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("-40000")), std::nullopt);
  EXPECT_EQ(modCommon::BinCountFromText(QStringLiteral("1e400")), std::nullopt);
}

TEST(OutlierParmText, NumbersInTheUserLocaleOrPlainFormElseUnset) {
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("2")), 2.0);
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral(" 2.5 ")), 2.5);
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("two")), std::nullopt);
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("")), std::nullopt);
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("7abc")), std::nullopt);
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("2,5")), 2.5);
  EXPECT_EQ(modCommon::TypeParmFromText(QStringLiteral("2.5")), 2.5);  // the plain form still reads
  QLocale::setDefault(previous);
}

TEST(ResultBoxes, FifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(modCommon::ResultText(920), QStringLiteral("920"));
  EXPECT_EQ(modCommon::ResultText(0.1 + 0.2), QStringLiteral("0.3"));
  EXPECT_EQ(modCommon::ResultText(2.0 / 3.0), QStringLiteral("0.666666666666667"));
  EXPECT_EQ(modCommon::ResultText(1234567.5), QStringLiteral("1234567.5"));
}

TEST(ResultBoxes, ANumberTooWideForItsBoxDoesNotFit) {
  QLineEdit box;
  box.resize(400, 24);
  const QString number = modCommon::ResultText(2.0 / 3.0);
  EXPECT_TRUE(modCommon::TextFits(box, number));
  box.resize(40, 24);  // a few digits only
  EXPECT_FALSE(modCommon::TextFits(box, number));
  EXPECT_TRUE(modCommon::TextFits(box, QStringLiteral("7")));
}

TEST(Datasets, TheProgramsOwnConnectionToItsDataFolder) {
  EXPECT_EQ(modCommon::DatasetConnectionString(QStringLiteral("/opt/demo/datasets")),
            QStringLiteral("Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=/opt/demo/datasets;"
                           "DefaultDir=/opt/demo/datasets;Uid=Admin;Pwd=;"));
  EXPECT_EQ(modCommon::DatasetSource(QStringLiteral("College")), QStringLiteral("select * from [College.csv]"));
  EXPECT_EQ(modCommon::DatasetsFolder(), QCoreApplication::applicationDirPath() + QStringLiteral("/datasets"));
  EXPECT_TRUE(QFile::exists(modCommon::DatasetsFolder() + QStringLiteral("/BaseBall.csv")));
}

// An installed program keeps its files in <prefix>/share/vesquindemo, not
// beside itself in bin/: what is missing beside the program is looked up
// there, and what is in neither place is named beside the program.
TEST(Datasets, InstalledProgramFindsItsFilesInTheDataFolder) {
  const QString data_dir =
      QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vesquindemo"));
  const QString probe = QStringLiteral("probe-%1.txt").arg(QCoreApplication::applicationPid());
  ASSERT_TRUE(QDir().mkpath(data_dir));
  QFile file(data_dir + QLatin1Char('/') + probe);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_EQ(modCommon::ProgramFile(probe), data_dir + QLatin1Char('/') + probe);
  EXPECT_EQ(modCommon::ProgramFile(QStringLiteral("datasets")), modCommon::DatasetsFolder())
      << "beside the program comes first";
  EXPECT_TRUE(file.remove());
  EXPECT_EQ(modCommon::ProgramFile(probe), QCoreApplication::applicationDirPath() + QLatin1Char('/') + probe);
}

// PATH is set to a folder of our own for the system information tests.
class SystemInfo : public testing::Test {
 protected:
  SystemInfo() : path_(qgetenv("PATH")) {}
  ~SystemInfo() override { qputenv("PATH", path_); }
  QByteArray path_;
  QTemporaryDir dir_;
};

TEST_F(SystemInfo, WithoutAToolTheUserIsTold) {
  qputenv("PATH", dir_.path().toUtf8());
  EXPECT_TRUE(modCommon::FindSystemInfoTool().isEmpty());
  qel::MessageBoxDriver closer;
  modCommon::StartSysInfo(nullptr);
  ASSERT_EQ(closer.texts().size(), 1);
  EXPECT_EQ(closer.texts()[0], QStringLiteral("System Information Is Unavailable At This Time"));
}

TEST_F(SystemInfo, AToolOnThePathIsStarted) {
  const QString marker = dir_.filePath(QStringLiteral("started"));
  const QString tool = dir_.filePath(QStringLiteral("hardinfo"));
  QFile script(tool);
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(QStringLiteral("#!/bin/sh\necho started > '%1'\n").arg(marker).toUtf8());
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("PATH", dir_.path().toUtf8());
  EXPECT_EQ(modCommon::FindSystemInfoTool(), tool);
  qel::MessageBoxDriver closer;
  modCommon::StartSysInfo(nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10000));
  EXPECT_TRUE(closer.texts().isEmpty());
}

TEST(Help, ContentsOpenAtTheFirstPageAndSearchFindsTheIndices) {
  qel::MessageBoxDriver closer;
  modCommon::SetHelpFile(modCommon::DefaultHelpFile());
  modCommon::ShowHelp(modCommon::kHelpDisplayTopic, nullptr);
  ASSERT_TRUE(closer.texts().isEmpty()) << closer.texts().join(QLatin1Char('|')).toStdString();
  ASSERT_EQ(modCommon::OpenHelpWindows().size(), 1);
  HelpWindow* help = modCommon::OpenHelpWindows().first();
  EXPECT_TRUE(help->isVisible());
  // The contents list every page of the book under its title page.
  ASSERT_TRUE(QTest::qWaitFor([&] { return help->engine()->contentModel()->rowCount() > 0; }, 10000));
  const QModelIndex root = help->engine()->contentModel()->index(0, 0);
  EXPECT_GE(help->engine()->contentModel()->rowCount(root), 8);
  EXPECT_EQ(help->browser()->source().fileName(), QStringLiteral("index.html"));
  EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("Orvanto Statistical Library")));

  // A second "Contents" raises the same window.
  modCommon::ShowHelp(modCommon::kHelpDisplayTopic, nullptr);
  EXPECT_EQ(modCommon::OpenHelpWindows().size(), 1);

  // The index is built in the background when the window opens: search until it answers.
  QHelpSearchEngine* search = help->engine()->searchEngine();
  int found = -1;
  QObject::connect(search, &QHelpSearchEngine::searchingFinished, [&](int count) { found = count; });
  QElapsedTimer clock;
  clock.start();
  while (found <= 0 && clock.elapsed() < 30000) {
    found = -1;
    help->Search(QStringLiteral("discontinuity"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return found >= 0; }, 20000));
    if (found == 0) QTest::qWait(250);
  }
  EXPECT_GT(found, 0);
  EXPECT_GT(search->searchResultCount(), 0);

  modCommon::ShowHelp(modCommon::kHelpCloseAll, nullptr);
  EXPECT_TRUE(modCommon::OpenHelpWindows().isEmpty());
}

TEST(Help, AMissingHelpFileIsReportedOnce) {
  qel::MessageBoxDriver closer;
  modCommon::SetHelpFile(QStringLiteral("/nonexistent/VesquinsLibHlp/VesquinLib.qhc"));
  modCommon::ShowHelp(modCommon::kHelpDisplayTopic, nullptr);
  modCommon::SetHelpFile(modCommon::DefaultHelpFile());
  ASSERT_EQ(closer.texts().size(), 1);
  EXPECT_TRUE(closer.texts()[0].contains(QStringLiteral("/nonexistent/VesquinsLibHlp/VesquinLib.qhc")));
  EXPECT_TRUE(modCommon::OpenHelpWindows().isEmpty());
}

TEST(Help, ClosingTheMainWindowClosesItsHelpWindows) {
  qel::MessageBoxDriver closer;
  modCommon::SetHelpFile(modCommon::DefaultHelpFile());
  auto* window = new frmMain;
  window->show();
  window->mnuHelpSearch->trigger();
  ASSERT_EQ(modCommon::OpenHelpWindows().size(), 1);
  QPointer<HelpWindow> help = modCommon::OpenHelpWindows().first();
  EXPECT_TRUE(help->isVisible());
  window->close();
  EXPECT_TRUE(modCommon::OpenHelpWindows().isEmpty());
  EXPECT_TRUE(help.isNull());
  EXPECT_EQ(window->dataset(), nullptr) << "unloading releases the dataset";
  delete window;
}

}  // namespace

namespace {

// An installed program's folder cannot be written: the help window then works
// on a collection of the user's own that registers the same book.
TEST(Help, AUserCollectionServesAReadOnlyInstall) {
  QTemporaryDir cache;
  const QByteArray previous = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
  QString error;
  const QString user = HelpWindow::UserCollection(modCommon::DefaultHelpFile(), &error);
  qputenv("XDG_CACHE_HOME", previous);
  ASSERT_FALSE(user.isEmpty()) << error.toStdString();
  EXPECT_TRUE(user.startsWith(cache.path()));
  qel::MessageBoxDriver closer;
  HelpWindow* help = HelpWindow::Open(user, &error);
  ASSERT_NE(help, nullptr) << error.toStdString();
  EXPECT_EQ(help->engine()->registeredDocumentations().size(), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return help->engine()->contentModel()->rowCount() > 0; }, 10000));
  EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("Orvanto Statistical Library")));
  delete help;
  // A second look-up reuses the registration.
  qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
  EXPECT_EQ(HelpWindow::UserCollection(modCommon::DefaultHelpFile(), &error), user);
  qputenv("XDG_CACHE_HOME", previous);
}

}  // namespace

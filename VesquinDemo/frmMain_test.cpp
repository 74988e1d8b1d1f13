// The main window as a user meets it: its start state, the dataset choice and
// the three analyses run through the component library, checked against
// qelstats on the same file.
#include "frmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTimer>
#include <QTableView>

#include "RecordsetModel.h"
#include "modCommon.h"
#include "qeltesting/message_box_driver.h"
#include "qeldata/recordset.h"

namespace {

QStringList CsvHeader(const QString& name) {
  QFile file(QStringLiteral(QEL_SOURCE_DIR "/VesquinDemo/datasets/") + name + QStringLiteral(".csv"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  return QString::fromUtf8(file.readLine()).trimmed().split(QLatin1Char(','));
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// qelstats <args> --json on a dataset beside the program.
QJsonObject Qelstats(QStringList args) {
  args << QStringLiteral("--json") << QStringLiteral("--no-progress");
  QProcess process;
  process.start(QStringLiteral(QEL_BINARY_DIR "/bin/qelstats"), args);
  EXPECT_TRUE(process.waitForFinished(120000));
  const QByteArray out = process.readAllStandardOutput();
  const QJsonDocument doc = QJsonDocument::fromJson(out);
  EXPECT_TRUE(doc.isObject()) << out.toStdString() << process.readAllStandardError().toStdString();
  return doc.object();
}

QString Csv(const char* name) { return modCommon::DatasetsFolder() + QLatin1Char('/') + QLatin1String(name); }

// The text a result box shows for a figure qelstats printed.
QString Figure(const QJsonObject& json, const char* key) {
  EXPECT_TRUE(json.contains(QLatin1String(key))) << key;
  return modCommon::ResultText(json.value(QLatin1String(key)).toDouble());
}

QStringList GridColumns(const RecordsetModel* model) {
  QStringList columns;
  for (int c = 0; c < model->columnCount(); ++c) columns << model->headerData(c, Qt::Horizontal).toString();
  return columns;
}

QList<QStringList> GridRows(const RecordsetModel* model) {
  QList<QStringList> rows;
  for (int r = 0; r < model->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < model->columnCount(); ++c) row << model->data(model->index(r, c)).toString();
    rows << row;
  }
  return rows;
}

QList<QStringList> JsonRows(const QJsonObject& json) {
  QList<QStringList> rows;
  for (const QJsonValue& row : json.value(QLatin1String("ResultSet")).toObject().value(QLatin1String("rows")).toArray()) {
    QStringList cells;
    for (const QJsonValue& cell : row.toArray()) {
      if (cell.isDouble()) cells << modCommon::ResultText(cell.toDouble());
      else if (cell.isBool()) cells << (cell.toBool() ? QStringLiteral("True") : QStringLiteral("False"));
      else cells << cell.toString();
    }
    rows << cells;
  }
  return rows;
}

class MainWindowTest : public testing::Test {
 protected:
  // Answers the library's own message boxes, should a run show one.
  qel::MessageBoxDriver closer_;
  frmMain window_;
};

TEST_F(MainWindowTest, StartsOnBaseBallWithTheOutlierTabAndDefaultOptions) {
  const QStringList fields = CsvHeader(QStringLiteral("BaseBall"));
  ASSERT_GT(fields.size(), 3);
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Orvanto Component Demo Project"));
  EXPECT_EQ(Items(window_.Combo1), (QStringList{QStringLiteral("BaseBall"), QStringLiteral("College")}));
  EXPECT_EQ(window_.Combo1->currentText(), QStringLiteral("BaseBall"));
  EXPECT_EQ(window_.datasetName(), QStringLiteral("BaseBall"));
  // Predictor and target hold every field and nothing else; weight starts with "None".
  EXPECT_EQ(Items(window_.Combo2), fields);
  EXPECT_EQ(Items(window_.Combo3), fields);
  EXPECT_EQ(Items(window_.Combo4), QStringList{QStringLiteral("None")} + fields);
  EXPECT_EQ(window_.Combo2->currentText(), fields.first());
  EXPECT_EQ(window_.Combo3->currentText(), fields.first());
  EXPECT_EQ(window_.Combo4->currentText(), QStringLiteral("None"));
  EXPECT_EQ(window_.Text11->text(), QStringLiteral("10"));
  EXPECT_EQ(window_.Text22->text(), QStringLiteral("2"));
  EXPECT_TRUE(window_.ckType->isChecked());
  EXPECT_FALSE(window_.Check1->isChecked());
  EXPECT_EQ(window_.SSTab1->currentIndex(), 1);
  EXPECT_EQ(window_.SSTab1->tabText(0), QStringLiteral("Bivariate Parms"));
  EXPECT_EQ(window_.SSTab1->tabText(1), QStringLiteral("Outlier"));
  EXPECT_EQ(window_.SSTab1->tabText(2), QStringLiteral("Univariate"));
  EXPECT_EQ(window_.gridModel()->rowCount(), 0);
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesCaptionsAndPlaces) {
  // Names are how the resize module and users find the controls.
  for (const char* name : {"Label2", "Label39", "SSTab1", "Label40", "MSHFlexGrid1", "Label1", "Combo1", "Frame4",
                           "Combo2", "Combo3", "Combo4", "Frame6", "Text12", "cmdExit", "Frame1", "Text3", "Text4",
                           "Text7", "Text8", "Text9", "Check1", "Frame5", "Text11", "cmdBivariates", "Frame2",
                           "Text13", "Text22", "ckType", "cmdExecuteOutl", "Frame3", "Text23", "Text38",
                           "cmdUnivariate"}) {
    EXPECT_NE(window_.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
  }
  EXPECT_EQ(window_.Label2->text().right(4), QStringLiteral(".   "));
  EXPECT_TRUE(window_.Label2->text().contains(QStringLiteral("projects.  One is")));
  EXPECT_TRUE(window_.Label39->text().contains(QStringLiteral("possible.  On the contrary")));
  EXPECT_TRUE(window_.Label39->text().endsWith(QStringLiteral("beyond the scope of this demo.")));
  EXPECT_EQ(window_.Frame4->title(), QStringLiteral("Field Options"));
  EXPECT_EQ(window_.Frame6->title(), QStringLiteral("Performance"));
  EXPECT_EQ(window_.Frame5->title(), QStringLiteral("Segmentation Options"));
  EXPECT_EQ(window_.Label12[0]->text(), QStringLiteral("Elapsed Time"));
  EXPECT_EQ(window_.Label12[1]->text(), QStringLiteral("Sec."));
  EXPECT_EQ(window_.Label12[1]->objectName(), QStringLiteral("Label12"));
  EXPECT_EQ(window_.Label12[1]->property("index").toInt(), 1);
  EXPECT_EQ(window_.cmdBivariates->text(), QStringLiteral("Execute Bivariates"));
  EXPECT_EQ(window_.cmdExecuteOutl->text(), QStringLiteral("Outlier Execute"));
  EXPECT_EQ(window_.cmdUnivariate->text(), QStringLiteral("Execute Univariates"));
  EXPECT_EQ(window_.Check1->text(), QStringLiteral("Categorical?"));
  EXPECT_EQ(window_.ckType->text(), QStringLiteral("Stdev Type"));
  window_.show();
  QApplication::processEvents();
  // Twips to pixels, 15 to one: cmdExit at 8400, 6240, 1815 x 375.
  EXPECT_EQ(window_.centralWidget()->size(), QSize(733, 475));
  EXPECT_EQ(window_.cmdExit->geometry(), QRect(560, 416, 121, 25));
  EXPECT_EQ(window_.MSHFlexGrid1->geometry(), QRect(304, 136, 193, 305));
  EXPECT_EQ(window_.Text12->geometry(), QRect(80, 16, 65, 19));
  EXPECT_EQ(window_.Combo4->geometry(), QRect(64, 72, 105, 21));
  // Page controls are placed relative to the tab control: Frame2 at 120, 480.
  EXPECT_EQ(window_.Frame2->mapTo(window_.SSTab1, QPoint(0, 0)), QPoint(8, 32));

  const QList<QAction*> entries = window_.mnuHelp->actions();
  ASSERT_EQ(entries.size(), 4);
  EXPECT_EQ(window_.mnuHelp->title(), QStringLiteral("&Help"));
  EXPECT_EQ(entries[0]->text(), QStringLiteral("&Contents"));
  EXPECT_EQ(entries[1]->text(), QStringLiteral("&Search For Help On..."));
  EXPECT_TRUE(entries[2]->isSeparator());
  EXPECT_EQ(entries[2]->objectName(), QStringLiteral("mnuHelpBar1"));
  EXPECT_EQ(entries[3]->text(), QStringLiteral("&About Orvanto Statisical Components"));
}

TEST_F(MainWindowTest, ChoosingCollegeReplacesTheListsAndKeepsResults) {
  window_.Text14->setText(QStringLiteral("kept"));
  window_.Combo2->setCurrentIndex(3);
  window_.Combo1->setCurrentIndex(1);
  emit window_.Combo1->activated(1);
  const QStringList fields = CsvHeader(QStringLiteral("College"));
  EXPECT_EQ(window_.datasetName(), QStringLiteral("College"));
  EXPECT_EQ(Items(window_.Combo2), fields);
  EXPECT_EQ(Items(window_.Combo4), QStringList{QStringLiteral("None")} + fields);
  EXPECT_EQ(window_.Combo2->currentIndex(), 0);
  EXPECT_EQ(window_.Combo4->currentText(), QStringLiteral("None"));
  EXPECT_EQ(window_.dataset()->GetFields().Count(), fields.size());
  EXPECT_EQ(window_.Text14->text(), QStringLiteral("kept"));
  EXPECT_TRUE(closer_.texts().isEmpty());
}

TEST_F(MainWindowTest, ChoosingTheSameDatasetAgainResetsTheLists) {
  window_.Combo2->setCurrentIndex(3);
  window_.Combo4->setCurrentIndex(2);
  const auto before = window_.dataset();
  emit window_.Combo1->activated(0);
  EXPECT_EQ(window_.Combo2->currentIndex(), 0);
  EXPECT_EQ(window_.Combo4->currentText(), QStringLiteral("None"));
  EXPECT_NE(window_.dataset(), before) << "each choice opens the file anew";
}

TEST_F(MainWindowTest, ADatasetThatCannotBeOpenedIsReportedAndTheListsStay) {
  const QStringList before = Items(window_.Combo2);
  const auto open = window_.dataset();
  window_.Combo1->setEditText(QStringLiteral("Missing"));
  window_.Combo1_Click();
  ASSERT_EQ(closer_.texts().size(), 1);
  EXPECT_TRUE(closer_.texts()[0].contains(QStringLiteral("/datasets/Missing.csv"))) << closer_.texts()[0].toStdString();
  EXPECT_EQ(Items(window_.Combo2), before);
  EXPECT_EQ(window_.dataset(), open);
  EXPECT_EQ(window_.Combo1->currentText(), QStringLiteral("BaseBall"));
}

TEST_F(MainWindowTest, BivariateClickShowsTheSegmentationAsQelstatsComputesIt) {
  window_.Combo2->setCurrentText(QStringLiteral("Age"));
  window_.Combo3->setCurrentText(QStringLiteral("Salary"));
  window_.Text12->clear();
  window_.cmdBivariates->click();
  const QJsonObject json = Qelstats({QStringLiteral("bivariate"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                     QStringLiteral("--predictor"), QStringLiteral("Age"), QStringLiteral("--target"),
                                     QStringLiteral("Salary"), QStringLiteral("--bins"), QStringLiteral("10")});
  EXPECT_FALSE(window_.Text3->text().isEmpty());
  EXPECT_EQ(window_.Text3->text(), Figure(json, "PSI"));
  EXPECT_EQ(window_.Text4->text(), Figure(json, "DI"));
  EXPECT_EQ(window_.Text7->text(), Figure(json, "Missing"));
  EXPECT_EQ(window_.Text8->text(), Figure(json, "N"));
  EXPECT_EQ(window_.Text9->text(), Figure(json, "TargetMean"));
  EXPECT_EQ(window_.Check1->isChecked(), json.value(QLatin1String("Categorical")).toBool());
  bool whole = false;
  EXPECT_GE(window_.Text12->text().toInt(&whole), 0);
  EXPECT_TRUE(whole) << window_.Text12->text().toStdString();
  EXPECT_EQ(GridColumns(window_.gridModel()),
            (QStringList{QStringLiteral("Bin"), QStringLiteral("N"), QStringLiteral("Min Age"),
                         QStringLiteral("Max Age"), QStringLiteral("Mean Salary"), QStringLiteral("Index")}));
  EXPECT_GT(window_.gridModel()->rowCount(), 1);
  EXPECT_EQ(GridRows(window_.gridModel()), JsonRows(json));
  EXPECT_TRUE(closer_.texts().isEmpty()) << closer_.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(MainWindowTest, BinsTextIsReadAsItsLeadingNumberRoundedHalfToEven) {
  window_.Combo2->setCurrentText(QStringLiteral("AB"));
  window_.Combo3->setCurrentText(QStringLiteral("Salary"));
  window_.Text11->setText(QStringLiteral("3.5"));  // 4 bins
  window_.cmdBivariates->click();
  const QJsonObject four = Qelstats({QStringLiteral("bivariate"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                     QStringLiteral("--predictor"), QStringLiteral("AB"), QStringLiteral("--target"),
                                     QStringLiteral("Salary"), QStringLiteral("--bins"), QStringLiteral("4")});
  EXPECT_EQ(GridRows(window_.gridModel()), JsonRows(four));
  EXPECT_LE(window_.gridModel()->rowCount(), 4);
  EXPECT_EQ(window_.Text3->text(), Figure(four, "PSI"));

  window_.Text11->setText(QStringLiteral("7abc"));
  window_.cmdBivariates->click();
  const QJsonObject seven = Qelstats({QStringLiteral("bivariate"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                      QStringLiteral("--predictor"), QStringLiteral("AB"), QStringLiteral("--target"),
                                      QStringLiteral("Salary"), QStringLiteral("--bins"), QStringLiteral("7")});
  EXPECT_EQ(window_.Text3->text(), Figure(seven, "PSI"));
  EXPECT_TRUE(closer_.texts().isEmpty()) << closer_.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(MainWindowTest, BinsTextWithoutANumberOrOutOfRange) {
  window_.Combo2->setCurrentText(QStringLiteral("AB"));
  window_.Combo3->setCurrentText(QStringLiteral("Salary"));
  // No leading number: BinCount 0, which the library's own check refuses.
  window_.Text11->setText(QString());
  window_.cmdBivariates->click();
  ASSERT_EQ(closer_.texts().size(), 1);
  EXPECT_EQ(closer_.texts()[0], QStringLiteral("Error: Bin Count is invalid. Integer values >0 are required."));

  // Beyond 16 bits the class default of 20 bins holds.
  window_.Text11->setText(QStringLiteral("40000"));
  window_.cmdBivariates->click();
  const QJsonObject twenty = Qelstats({QStringLiteral("bivariate"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                       QStringLiteral("--predictor"), QStringLiteral("AB"), QStringLiteral("--target"),
                                       QStringLiteral("Salary"), QStringLiteral("--bins"), QStringLiteral("20")});
  EXPECT_EQ(window_.Text3->text(), Figure(twenty, "PSI"));
  EXPECT_EQ(GridRows(window_.gridModel()), JsonRows(twenty));
  EXPECT_EQ(closer_.texts().size(), 1);
}

TEST_F(MainWindowTest, AFailedBivariateRunShowsTheLibrarysMessageAndAnEmptyTable) {
  window_.cmdBivariates->click();
  ASSERT_GT(window_.gridModel()->rowCount(), 0);
  window_.Combo2->setCurrentText(QStringLiteral("Age"));
  window_.Combo3->setCurrentText(QStringLiteral("Player"));  // a text target cannot be averaged
  window_.cmdBivariates->click();
  ASSERT_EQ(closer_.texts().size(), 1);
  EXPECT_TRUE(closer_.texts()[0].startsWith(QStringLiteral("Com_Bivariate: Bivariate_Run ")))
      << closer_.texts()[0].toStdString();
  EXPECT_EQ(window_.gridModel()->columnCount(), 6);
  EXPECT_EQ(window_.gridModel()->rowCount(), 0);
  bool whole = false;
  window_.Text12->text().toInt(&whole);
  EXPECT_TRUE(whole) << "the elapsed time is shown also after a failed run";
}

TEST_F(MainWindowTest, OutlierClickShowsTheStatisticsAndItsTableAsQelstatsDoes) {
  window_.Combo2->setCurrentText(QStringLiteral("Salary"));
  window_.cmdExecuteOutl->click();
  const QJsonObject json = Qelstats({QStringLiteral("outlier"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                     QStringLiteral("--field"), QStringLiteral("Salary"), QStringLiteral("--rule"),
                                     QStringLiteral("std"), QStringLiteral("--parm"), QStringLiteral("2")});
  EXPECT_EQ(window_.Text14->text(), Figure(json, "Mean"));
  EXPECT_EQ(window_.Text13->text(), Figure(json, "N"));
  EXPECT_EQ(window_.Text15->text(), Figure(json, "WgtN"));
  EXPECT_EQ(window_.Text16->text(), Figure(json, "Stdev"));
  EXPECT_EQ(window_.Text17->text(), Figure(json, "Variance"));
  EXPECT_EQ(window_.Text18->text(), Figure(json, "OutlierCountN"));
  EXPECT_EQ(window_.Text19->text(), Figure(json, "OutlierCountWgt"));
  EXPECT_EQ(window_.Text20->text(), Figure(json, "Min"));
  EXPECT_EQ(window_.Text21->text(), Figure(json, "Max"));
  EXPECT_EQ(GridColumns(window_.gridModel()), (QStringList{QStringLiteral("Value"), QStringLiteral("N"),
                                                           QStringLiteral("Weighted N"), QStringLiteral("Outlier")}));
  EXPECT_EQ(GridRows(window_.gridModel()), JsonRows(json));

  // Unticking "Stdev Type" selects the trimmed-mean rule, with the parameter as a percentage.
  window_.ckType->setChecked(false);
  window_.Text22->setText(QStringLiteral("10"));
  window_.cmdExecuteOutl->click();
  const QJsonObject tmean = Qelstats({QStringLiteral("outlier"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                      QStringLiteral("--field"), QStringLiteral("Salary"), QStringLiteral("--rule"),
                                      QStringLiteral("tmean"), QStringLiteral("--parm"), QStringLiteral("10")});
  EXPECT_EQ(window_.Text18->text(), Figure(tmean, "OutlierCountN"));
  EXPECT_EQ(GridRows(window_.gridModel()), JsonRows(tmean));
  EXPECT_TRUE(closer_.texts().isEmpty()) << closer_.texts().join(QLatin1Char('|')).toStdString();

  // A percentage outside 1..100 is refused by the library, in its own message box.
  window_.Text22->setText(QStringLiteral("0.5"));
  window_.cmdExecuteOutl->click();
  ASSERT_EQ(closer_.texts().size(), 1);
  EXPECT_EQ(closer_.texts()[0],
            QStringLiteral("Error: Outlier Trimmed mean outlier determination requires percentages between 1 and 100."));
}

TEST_F(MainWindowTest, UnivariateClickFillsItsTabWithTheWeightAndEmptiesTheGrid) {
  window_.cmdBivariates->click();
  ASSERT_GT(window_.gridModel()->rowCount(), 0);
  const auto bound = window_.gridModel()->recordset();

  window_.Combo2->setCurrentText(QStringLiteral("Salary"));
  window_.Combo4->setCurrentText(QStringLiteral("G"));
  window_.cmdUnivariate->click();
  const QJsonObject json = Qelstats({QStringLiteral("univariate"), QStringLiteral("--csv"), Csv("BaseBall.csv"),
                                     QStringLiteral("--field"), QStringLiteral("Salary"), QStringLiteral("--weight"),
                                     QStringLiteral("G")});
  const std::pair<QLineEdit*, const char*> boxes[] = {
      {window_.Text23, "N"},      {window_.Text24, "WgtN"},     {window_.Text25, "Mean"},
      {window_.Text26, "Median"}, {window_.Text27, "Mode"},     {window_.Text28, "Stdev"},
      {window_.Text29, "Variance"}, {window_.Text30, "Min"},    {window_.Text31, "Max"},
      {window_.Text32, "Range"},  {window_.Text33, "Q1"},       {window_.Text34, "Q3"},
      {window_.Text35, "IQR"},    {window_.Text36, "Kurtosis"}, {window_.Text37, "Skewness"},
      {window_.Text38, "Cardinality"}};
  for (const auto& [box, key] : boxes) EXPECT_EQ(box->text(), Figure(json, key)) << key;
  EXPECT_NE(window_.Text23->text(), window_.Text24->text()) << "the weight field was not passed";
  EXPECT_EQ(window_.gridModel()->rowCount(), 0);
  EXPECT_EQ(window_.gridModel()->columnCount(), 0);
  EXPECT_EQ(window_.gridModel()->recordset(), bound);  // the grid still holds its table

  // With "None" no weight is passed: weighted and plain counts agree.
  window_.Combo4->setCurrentText(QStringLiteral("None"));
  window_.cmdUnivariate->click();
  EXPECT_EQ(window_.Text23->text(), window_.Text24->text());
}

TEST_F(MainWindowTest, TheWeightRuleComparesWithNoneExactly) {
  // "none" is not "None": it is passed as a weight field, which the file does not have.
  window_.Combo2->setCurrentText(QStringLiteral("Salary"));
  window_.Combo4->setCurrentText(QStringLiteral("none"));
  window_.cmdUnivariate->click();
  EXPECT_EQ(window_.Text23->text(), QStringLiteral("0"));
  window_.Combo4->setCurrentText(QStringLiteral("None"));
  window_.cmdUnivariate->click();
  EXPECT_EQ(window_.Text23->text(), QStringLiteral("920"));
}

TEST_F(MainWindowTest, TheLibrarysProgressWindowShowsDuringABivariateRun) {
  // The bivariate run lets window events through at its checkpoints: look around then.
  bool seen = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == QLatin1String("frmProgress") && w->isVisible()) seen = true;
  });
  probe.start();
  window_.cmdBivariates->click();
  probe.stop();
  EXPECT_TRUE(seen);
}

TEST_F(MainWindowTest, AFailedUnivariateRunShowsTheNewObjectsZeros) {
  window_.Text25->setText(QStringLiteral("old"));
  window_.Combo2->setCurrentText(QStringLiteral("NoSuchField"));
  window_.cmdUnivariate->click();
  EXPECT_EQ(window_.Text25->text(), QStringLiteral("0"));
  EXPECT_EQ(window_.Text23->text(), QStringLiteral("0"));
}

TEST_F(MainWindowTest, RendersAfterABivariateRunForTheReadme) {
  window_.Combo2->setCurrentText(QStringLiteral("Age"));
  window_.Combo3->setCurrentText(QStringLiteral("Salary"));
  window_.SSTab1->setCurrentIndex(0);
  window_.cmdBivariates->click();
  window_.show();
  QApplication::processEvents();
  QImage image(window_.size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  window_.render(&image);
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 8) << "the window rendered blank";
  EXPECT_TRUE(image.save(QStringLiteral(QEL_BINARY_DIR "/main-window.png")));
  // The README shows the window; QEL_UPDATE_DOCS=1 refreshes its picture. A
  // plain test run leaves the source tree alone.
  if (qEnvironmentVariableIntValue("QEL_UPDATE_DOCS") == 1) {
    EXPECT_TRUE(image.save(QStringLiteral(QEL_SOURCE_DIR "/docs/main-window.png")));
  }
}

}  // namespace

#include "modCommon.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include "HelpWindow.h"
#include "qeldata/value.h"

namespace modCommon {

namespace {

QString& HelpFileSetting() {
  static QString path;
  return path;
}

QList<QPointer<HelpWindow>>& HelpWindows() {
  static QList<QPointer<HelpWindow>> windows;
  return windows;
}

}  // namespace

QFont ProgramFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                    QStringLiteral("Lato"), QStringLiteral("DejaVu Sans Condensed")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

QString ProgramFolder() {
  QString dir = QCoreApplication::applicationDirPath();
  while (dir.size() > 1 && dir.endsWith(QLatin1Char('/'))) dir.chop(1);
  return dir;
}

// Where the program's own files are: beside the program (the build tree, a
// folder copied whole), else in the installed data folder that the build
// recorded relative to the installed program (bin/../share/vesquindemo), so
// an installed copy works from any prefix. With neither, the path beside the
// program, which the message about a missing file then names.
QString ProgramFile(const QString& relative) {
  const QString beside = ProgramFolder() + QLatin1Char('/') + relative;
  if (QFileInfo::exists(beside)) return beside;
#ifdef QEL_PROGRAM_DATA_RELATIVE
  const QString installed = QDir::cleanPath(ProgramFolder() + QLatin1Char('/') +
                                            QString::fromUtf8(QEL_PROGRAM_DATA_RELATIVE) + QLatin1Char('/') + relative);
  if (QFileInfo::exists(installed)) return installed;
#endif
  return beside;
}

QString DatasetsFolder() { return ProgramFile(QStringLiteral("datasets")); }

QString DatasetConnectionString(const QString& folder) {
  return QStringLiteral("Driver={Microsoft Text Driver ") + QStringLiteral("(*.txt; *.csv)};DBQ=") + folder +
         QStringLiteral(";DefaultDir=") + folder + QStringLiteral(";Uid=Admin;Pwd=;");
}

QString DatasetSource(const QString& dataset_name) {
  return QStringLiteral("select * from [") + dataset_name + QStringLiteral(".csv]");
}

void SetHelpFile(const QString& path) { HelpFileSetting() = path; }
QString HelpFile() { return HelpFileSetting().isEmpty() ? DefaultHelpFile() : HelpFileSetting(); }
QString DefaultHelpFile() { return ProgramFile(QStringLiteral("VesquinsLibHlp/VesquinLib.qhc")); }

void ShowHelp(int mode, QWidget* window) {
  QList<QPointer<HelpWindow>>& windows = HelpWindows();
  windows.removeAll(nullptr);
  if (mode == kHelpCloseAll) {
    const QList<QPointer<HelpWindow>> open = windows;
    windows.clear();
    for (const QPointer<HelpWindow>& w : open) {
      if (!w) continue;
      w->close();
      delete w.data();
    }
    return;
  }
  for (const QPointer<HelpWindow>& w : windows) {
    if (w && w->CollectionFile() == HelpFile()) {
      w->ShowDefaultTopic();
      w->show();
      w->raise();
      w->activateWindow();
      return;
    }
  }
  QString error;
  auto* help = HelpWindow::Open(HelpFile(), &error);
  if (!help) {
    ShowMessage(window, error);
    return;
  }
  windows.append(help);
  help->show();
  help->raise();
  help->activateWindow();
}

QList<HelpWindow*> OpenHelpWindows() {
  QList<HelpWindow*> result;
  for (const QPointer<HelpWindow>& w : HelpWindows()) {
    if (w) result.append(w.data());
  }
  return result;
}

void ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle), text, QMessageBox::Ok, parent);
  box.exec();
}

bool TextFits(const QLineEdit& box, const QString& text) {
  // QLineEdit lays its text out inside the frame's contents, less its text
  // margins and a fixed 2-pixel gap on each side.
  QStyleOptionFrame option;
  option.initFrom(&box);
  option.lineWidth = box.hasFrame() ? box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &box) : 0;
  const QRect inside = box.style()->subElementRect(QStyle::SE_LineEditContents, &option, &box);
  const QMargins margins = box.textMargins();
  const int room = inside.width() - margins.left() - margins.right() - 4;
  return QFontMetrics(box.font()).horizontalAdvance(text) <= room;
}

QString ResultText(double value) { return QString::fromStdString(qeldata::NumberText(value)); }

double LeadingNumber(const QString& text) {
  const std::string s = text.toStdString();
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  const std::size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  std::string number = s.substr(start, i - start);
  // An exponent counts only when digits follow it ("2e" reads as 2).
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t exp_digits = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j > exp_digits) number += 'e' + s.substr(i + 1, j - i - 1);
  }
  // strtod in the "C" form: the point is the decimal separator whatever the locale.
  return QLocale::c().toDouble(QString::fromStdString(number));
}

std::optional<std::int16_t> BinCountFromText(const QString& text) {
  const double rounded = std::nearbyint(LeadingNumber(text));  // ties to even
  if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
  return static_cast<std::int16_t>(rounded);
}

std::optional<double> TypeParmFromText(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  bool ok = false;
  double value = QLocale().toDouble(t, &ok);  // the user's locale (the process default)
  if (!ok) value = QLocale::c().toDouble(t, &ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  return value;
}

QStringList SystemInfoTools() {
  return {QStringLiteral("hardinfo2"),          QStringLiteral("hardinfo"),
          QStringLiteral("kinfocenter"),        QStringLiteral("gnome-system-monitor"),
          QStringLiteral("mate-system-monitor"), QStringLiteral("xfce4-taskmanager"),
          QStringLiteral("lxtask")};
}

QString FindSystemInfoTool() {
  for (const QString& tool : SystemInfoTools()) {
    const QString path = QStandardPaths::findExecutable(tool);
    if (!path.isEmpty()) return path;
  }
  return {};
}

void StartSysInfo(QWidget* parent) {
  const QString tool = FindSystemInfoTool();
  if (!tool.isEmpty() && QProcess::startDetached(tool, {})) return;
  ShowMessage(parent, QString::fromLatin1(kSysInfoUnavailable));
}

}  // namespace modCommon

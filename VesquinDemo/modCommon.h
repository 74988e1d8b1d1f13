// modCommon: what the program's windows share: the program's identity, its
// folders (data and help), the conversions of the result boxes and of the
// option boxes, modal messages, the help windows and the system information
// tool.
#pragma once

#include <cstdint>
#include <optional>

#include <QLineEdit>
#include <QList>
#include <QString>
#include <QStringList>

class QFont;
class QWidget;
class HelpWindow;

namespace modCommon {

// The application title and version the about box shows.
inline constexpr const char* kProgramTitle = "VesquinDemo";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 13;

// Window layouts are given in twips: 1/1440 inch, 15 to a pixel at 96 dpi.
inline constexpr int kTwipsPerPixel = 15;
constexpr int PixelsFromTwips(int twips) {
  // Rounded to the nearest pixel, halves away from zero.
  return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
constexpr int TwipsFromPixels(int pixels) { return pixels * kTwipsPerPixel; }

// The windows' font: a narrow 8-point sans serif, so that captions fit the
// controls of the twip layout.
QFont ProgramFont();

// The folder the program was started from (the executable's folder), without
// a trailing separator.
QString ProgramFolder();
// The program's own file or folder `relative` (such as "datasets"): beside the
// program when it is there, else in the installed data folder
// (<prefix>/share/vesquindemo for a program in <prefix>/bin).
QString ProgramFile(const QString& relative);
// The datasets folder (ProgramFile("datasets")): BaseBall.csv and College.csv.
QString DatasetsFolder();
// The program's own connection string for the text driver over `folder`.
QString DatasetConnectionString(const QString& folder);
// "select * from [<name>.csv]"
QString DatasetSource(const QString& dataset_name);

// The help file setting: set at program start to
// ProgramFile("VesquinsLibHlp/VesquinLib.qhc"), read by ShowHelp.
void SetHelpFile(const QString& path);
QString HelpFile();
QString DefaultHelpFile();

// Opens the help book at its default topic in the program's help window
// (mode 1; a window already open is raised), or closes every help window the
// program opened (mode 0). A help file that cannot be opened is reported in
// one message box with an OK button; the program goes on.
inline constexpr int kHelpDisplayTopic = 1;
inline constexpr int kHelpCloseAll = 0;
void ShowHelp(int mode, QWidget* window);
// The help windows open now.
QList<HelpWindow*> OpenHelpWindows();

// A modal message box with the text and an OK button only.
void ShowMessage(QWidget* parent, const QString& text);

// The text of a result box: at most 15 significant digits, trailing zeros
// dropped, no digit grouping, exponent form only for extreme magnitudes.
QString ResultText(double value);
// Whether `text` shows whole in the line edit `box` at its present width
// (inside its frame and text margins, in its own font).
bool TextFits(const QLineEdit& box, const QString& text);

// The leading number of `text`, as the bins box reads it: blanks skipped, an
// optional sign, digits with a point as decimal separator and an optional
// exponent; 0 when the text starts with no number ("7abc" gives 7).
double LeadingNumber(const QString& text);
// BinCount from the bins box: the leading number rounded to the nearest whole
// number, halves to the even one. nullopt when that lies outside the 16-bit
// range (the class default then holds).
std::optional<std::int16_t> BinCountFromText(const QString& text);
// TypeParm from the "Outlier Parm" box: the text read as a number in the
// user's locale (or in plain "C" form). nullopt when it is no number.
std::optional<double> TypeParmFromText(const QString& text);

// Programs that show this machine's system information, tried in order.
QStringList SystemInfoTools();
// The first of SystemInfoTools() found on PATH, or an empty string.
QString FindSystemInfoTool();
// Starts the system information tool, or shows "System Information Is
// Unavailable At This Time" when there is none or it cannot start.
void StartSysInfo(QWidget* parent);
inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

}  // namespace modCommon

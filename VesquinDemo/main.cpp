// VesquinDemo: the desktop program that demonstrates the statistics library.
#include <QApplication>
#include <QIcon>

#include "frmMain.h"
#include "modCommon.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(modCommon::kProgramTitle));
  QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                          .arg(modCommon::kVersionMajor)
                                          .arg(modCommon::kVersionMinor)
                                          .arg(modCommon::kVersionRevision));
  // The menu entry's name and icon, so that the desktop shows the running
  // program under them.
  QApplication::setDesktopFileName(QStringLiteral("vesquindemo"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vesquindemo")));
  modCommon::SetHelpFile(modCommon::DefaultHelpFile());
  frmMain main_window;
  main_window.show();
  return app.exec();
}

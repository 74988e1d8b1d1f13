// frmAbout: the about box: the program's title and version, what it is for,
// a disclaimer, and a way to the machine's system information tool.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent = nullptr);

  QLabel* picIcon;
  QLabel* lblTitle;
  QLabel* lblVersion;
  QLabel* lblDescription;
  QFrame* Line1;  // the etched separator: a grey line over a white one
  QFrame* Line2;
  QLabel* lblDisclaimer;
  QPushButton* cmdOK;
  QPushButton* cmdSysInfo;
};

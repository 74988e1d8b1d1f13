#include "frmAbout.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "modCommon.h"

using modCommon::PixelsFromTwips;

namespace {

void Place(QWidget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(PixelsFromTwips(left), PixelsFromTwips(top), PixelsFromTwips(width), PixelsFromTwips(height));
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int left, int top, int width, int height) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(label, name, left, top, width, height);
  return label;
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setModal(true);
  setFont(modCommon::ProgramFont());
  setFixedSize(PixelsFromTwips(5730), PixelsFromTwips(3555));

  picIcon = new QLabel(this);
  Place(picIcon, "picIcon", 240, 240, 540, 540);
  picIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(PixelsFromTwips(480)));

  const QString title = QString::fromLatin1(modCommon::kProgramTitle);
  lblTitle = Label(this, "lblTitle", QString(), 1050, 240, 4485, 480);
  QFont title_font = lblTitle->font();
  title_font.setPointSize(12);
  title_font.setBold(true);
  lblTitle->setFont(title_font);
  lblVersion = Label(this, "lblVersion", QString(), 1050, 780, 4485, 225);
  lblDescription = Label(this, "lblDescription",
                         QStringLiteral("Fully functional application to demonstrate the various functions and "
                                        "features of the Orvanto Statisical Library. While this application is not "
                                        "intended to be a full Exploratory Data Analysis tool, it does allow a user "
                                        "or programmer to explore many of the capabilitites of the statistical "
                                        "library."),
                         1050, 1125, 4485, 1290);

  Line1 = new QFrame(this);
  Place(Line1, "Line1", 84, 2475, 5562, 15);
  Line1->setFrameStyle(QFrame::NoFrame);
  Line1->setAutoFillBackground(true);
  Line1->setPalette(QPalette(QColor(128, 128, 128)));
  Line2 = new QFrame(this);
  Place(Line2, "Line2", 98, 2490, 5562, 15);
  Line2->setFrameStyle(QFrame::NoFrame);
  Line2->setAutoFillBackground(true);
  Line2->setPalette(QPalette(QColor(255, 255, 255)));

  lblDisclaimer = Label(this, "lblDisclaimer",
                        QStringLiteral("Warning: ... This application is considered BETA and is subject to change "
                                       "and revision without notice. "),
                        255, 2625, 3870, 825);

  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  Place(cmdOK, "cmdOK", 4245, 2625, 1260, 345);
  cmdOK->setDefault(true);
  cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
  Place(cmdSysInfo, "cmdSysInfo", 4260, 3075, 1245, 345);
  cmdSysInfo->setAutoDefault(false);

  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdSysInfo, &QPushButton::clicked, this, [this] { modCommon::StartSysInfo(this); });

  // Load.
  setWindowTitle(QStringLiteral("About ") + title);
  lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                          .arg(modCommon::kVersionMajor)
                          .arg(modCommon::kVersionMinor)
                          .arg(modCommon::kVersionRevision));
  lblTitle->setText(title);
}

#include "qelprogress/frmProgress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "qelStatsLib/presenter.h"

namespace qel {

namespace {

// Positions and sizes in twips: left, top, width, height.
QRect Twips(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}

}  // namespace

frmProgress::frmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      Label1(new QLabel(QStringLiteral("Processing Your Request"), this)),
      ProgressBar1(new QProgressBar(this)),
      cmdCancel(new QPushButton(QStringLiteral("Cancel"), this)) {
  setObjectName(QStringLiteral("frmProgress"));
  setWindowTitle(QStringLiteral("Bivariate Processing"));
  setFixedSize(TwipsToPixels(4680), TwipsToPixels(1905));

  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(Twips(120, 120, 3255, 615));
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setWordWrap(true);

  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(Twips(113, 840, 4455, 375));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setFormat(QStringLiteral("%p%"));
  ProgressBar1->setTextVisible(true);
  ProgressBar1->setAlignment(Qt::AlignCenter);

  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setGeometry(Twips(1553, 1440, 1575, 375));
  connect(cmdCancel, &QPushButton::clicked, this, &frmProgress::cmdCancel_Click);

  // Form_Load: a new window starts a new request, so an earlier Cancel is forgotten.
  CancelFlag() = false;
  move(TwipsToPixels(1350), TwipsToPixels(1250));
}

frmProgress::~frmProgress() = default;

void frmProgress::cmdCancel_Click() { CancelFlag() = true; }

void frmProgress::closeEvent(QCloseEvent* event) {
  cmdCancel_Click();
  event->ignore();
}

}  // namespace qel

#include "qelprogress/message_box_driver.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>

namespace qel {

MessageBoxDriver::MessageBoxDriver(QObject* parent) : QObject(parent) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &MessageBoxDriver::Poll);
  timer_.start();
}

void MessageBoxDriver::Poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box || !box->isVisible()) return;
  seen_.push_back(Seen{box->windowTitle(), box->text(), box->standardButtons(),
                       box->windowModality() == Qt::ApplicationModal,
                       box->windowFlags().testFlag(Qt::WindowStaysOnTopHint)});
  QAbstractButton* button = box->button(QMessageBox::Ok);
  if (!button) button = box->defaultButton();
  if (!button) button = box->escapeButton();
  if (button) {
    button->click();
  } else {
    box->done(0);
  }
}

}  // namespace qel

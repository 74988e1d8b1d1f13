#include "qeltesting/message_box_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>

namespace qel {

MessageBoxDriver::MessageBoxDriver(QObject* parent) : QObject(parent) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &MessageBoxDriver::Poll);
  timer_.start();
}

void MessageBoxDriver::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  titles_ << modal->windowTitle();
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    seen_.push_back(Seen{box->windowTitle(), box->text(), box->standardButtons(),
                         box->windowModality() == Qt::ApplicationModal,
                         box->windowFlags().testFlag(Qt::WindowStaysOnTopHint)});
    texts_ << box->text();
    QAbstractButton* button = box->button(QMessageBox::Ok);
    if (!button) button = box->defaultButton();
    if (!button) button = box->escapeButton();
    if (button) {
      button->click();
    } else {
      box->done(0);
    }
    return;
  }
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialog->reject();
    return;
  }
  modal->close();
}

}  // namespace qel

#include "modal_closer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>

ModalCloser::ModalCloser(QObject* parent) : QObject(parent) {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &ModalCloser::Poll);
  timer_.start();
}

void ModalCloser::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  titles_ << modal->windowTitle();
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    texts_ << box->text();
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->click();
      return;
    }
  }
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialog->reject();
    return;
  }
  modal->close();
}

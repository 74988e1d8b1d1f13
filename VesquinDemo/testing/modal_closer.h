// Answers every modal window that opens while it lives, so that a test never
// waits on a person: it keeps the text of each message box it saw and closes
// the window (OK for a message box, reject for any other dialog).
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class ModalCloser : public QObject {
 public:
  explicit ModalCloser(QObject* parent = nullptr);
  // Texts of the message boxes closed so far, in order.
  const QStringList& texts() const { return texts_; }
  // Titles of the modal windows closed so far.
  const QStringList& titles() const { return titles_; }

 private:
  void Poll();
  QTimer timer_;
  QStringList texts_;
  QStringList titles_;
};

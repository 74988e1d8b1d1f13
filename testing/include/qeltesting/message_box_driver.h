// Answers the application's modal windows as soon as they appear, so a test
// that makes the library or the program show one never waits on a person. A
// message box gets its OK button (or, without one, its default or escape
// button); any other modal dialog is rejected and any other modal window
// closed. It keeps what it saw.
//
//   qel::MessageBoxDriver driver;
//   outlier.Run();                       // shows "Error: ..." and returns
//   EXPECT_EQ(driver.seen().at(0).text, "Error: Bad Parameter");
//
// It polls the active modal widget on a timer of the calling thread, so it
// answers windows shown by an exec() on that thread.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <vector>

namespace qel {

class MessageBoxDriver : public QObject {
 public:
  struct Seen {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool application_modal = false;
    bool stays_on_top = false;
  };

  explicit MessageBoxDriver(QObject* parent = nullptr);
  // The message boxes answered so far, in order.
  const std::vector<Seen>& seen() const { return seen_; }
  // Their texts, in order.
  const QStringList& texts() const { return texts_; }
  // The titles of every modal window answered so far, message boxes included.
  const QStringList& titles() const { return titles_; }

 private:
  void Poll();

  QTimer timer_;
  std::vector<Seen> seen_;
  QStringList texts_;
  QStringList titles_;
};

}  // namespace qel

// Answers the application's modal message boxes as soon as they appear, so a
// test that makes the library (or a window of its own) show one never waits on
// a person. It presses OK (or, without one, the box's default or escape
// button) and keeps what it saw.
//
//   qel::MessageBoxDriver driver;
//   outlier.Run();                       // shows "Error: ..." and returns
//   EXPECT_EQ(driver.seen().at(0).text, "Error: Bad Parameter");
//
// It polls the active modal widget on a timer of the calling thread, so it
// answers boxes shown by an exec() on that thread.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
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
  const std::vector<Seen>& seen() const { return seen_; }

 private:
  void Poll();

  QTimer timer_;
  std::vector<Seen> seen_;
};

}  // namespace qel

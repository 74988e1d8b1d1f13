// Renders a progress window as a run shows it mid-way and saves it as a PNG.
// Usage: qelprogress_snapshot OUT.png
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

#include "qelprogress/qt_presenter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  auto window = qel::CurrentPresenter().LoadProgressWindow();
  window->SetCaption("Processing Univariate: Salary");
  window->SetStatus("Sorting Data");
  window->SetBarValue(73);
  window->ShowTopMost();
  window->Refresh();

  QWidget* form = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "frmProgress") form = w;
  if (!form) {
    std::fprintf(stderr, "no progress window was loaded\n");
    return 1;
  }
  // The offscreen platform draws no window frame: draw a plain one with the
  // caption, so the picture shows what the run wrote there.
  const QPixmap client = form->grab();
  const int title_height = 24;
  QPixmap framed(client.width() + 2, client.height() + title_height + 1);
  framed.fill(QColor(0x5a, 0x6e, 0x8c));
  {
    QPainter painter(&framed);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(8, 0, framed.width() - 16, title_height), Qt::AlignVCenter | Qt::AlignLeft,
                     form->windowTitle());
    painter.drawPixmap(1, title_height, client);
  }
  if (!framed.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "could not save %s\n", argv[1]);
    return 1;
  }
  return 0;
}

#include "QtResize.h"

#include <QComboBox>
#include <QScreen>
#include <QVariant>

#include "modCommon.h"

namespace Resize {

std::string QtControl::Name() const { return widget_ ? widget_->objectName().toStdString() : std::string(); }

std::optional<std::int32_t> QtControl::Index() const {
  if (!widget_) return std::nullopt;
  const QVariant index = widget_->property("index");
  bool ok = false;
  const int value = index.toInt(&ok);
  if (!index.isValid() || !ok) return std::nullopt;
  return value;
}

std::optional<std::int32_t> QtControl::Left() const {
  if (!widget_) return std::nullopt;
  return modCommon::TwipsFromPixels(widget_->x() + origin_.x());
}
std::optional<std::int32_t> QtControl::Top() const {
  if (!widget_) return std::nullopt;
  return modCommon::TwipsFromPixels(widget_->y() + origin_.y());
}
std::optional<std::int32_t> QtControl::Width() const {
  if (!widget_) return std::nullopt;
  return modCommon::TwipsFromPixels(widget_->width());
}
std::optional<std::int32_t> QtControl::Height() const {
  if (!widget_) return std::nullopt;
  return modCommon::TwipsFromPixels(widget_->height());
}

bool QtControl::Move(std::int32_t left, std::int32_t top, std::optional<std::int32_t> width,
                     std::optional<std::int32_t> height) {
  if (!widget_) return false;
  if (height && qobject_cast<QComboBox*>(widget_.data())) return false;
  const int w = width ? modCommon::PixelsFromTwips(*width) : widget_->width();
  const int h = height ? modCommon::PixelsFromTwips(*height) : widget_->height();
  widget_->setGeometry(modCommon::PixelsFromTwips(left) - origin_.x(), modCommon::PixelsFromTwips(top) - origin_.y(),
                       qMax(0, w), qMax(0, h));
  return true;
}

QtWindow::QtWindow(QWidget* window, QWidget* inner, const QList<QWidget*>& controls,
                   const QHash<QWidget*, QPoint>& origins)
    : window_(window), inner_(inner) {
  controls_.reserve(controls.size());
  for (QWidget* w : controls) controls_.emplace_back(w, origins.value(w ? w->parentWidget() : nullptr));
}

std::string QtWindow::Name() const { return window_->objectName().toStdString(); }
double QtWindow::Top() const {
  // A minimised window is reported far below the screen, where the module leaves it alone.
  if (window_->isMinimized()) return kOffScreenTop + 2000;
  // Measured from the top of the window's own screen, so that a window on a
  // screen stacked below another is not taken for a minimised one.
  const QScreen* screen = window_->screen();
  const int screen_top = screen ? screen->geometry().top() : 0;
  return modCommon::TwipsFromPixels(window_->frameGeometry().top() - screen_top);
}
double QtWindow::Left() const { return modCommon::TwipsFromPixels(window_->frameGeometry().left()); }
double QtWindow::Height() const { return modCommon::TwipsFromPixels(window_->frameGeometry().height()); }
double QtWindow::Width() const { return modCommon::TwipsFromPixels(window_->frameGeometry().width()); }
double QtWindow::InnerHeight() const { return modCommon::TwipsFromPixels(inner_->height()); }
double QtWindow::InnerWidth() const { return modCommon::TwipsFromPixels(inner_->width()); }

std::vector<Control*> QtWindow::Controls() {
  std::vector<Control*> result;
  result.reserve(controls_.size());
  for (QtControl& c : controls_) result.push_back(&c);
  return result;
}

void ResizeForm(QWidget* window, QWidget* inner, const QList<QWidget*>& controls,
                const QHash<QWidget*, QPoint>& origins, Module& module) {
  QtWindow adapter(window, inner, controls, origins);
  module.ResizeForm(adapter);
}

}  // namespace Resize

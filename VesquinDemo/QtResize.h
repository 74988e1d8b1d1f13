// The Resize module applied to Qt widgets: a window is a top-level widget with
// an inner widget (the client area its controls are laid out in), a control
// is a widget with an objectName and, inside a control array, an integer
// "index" property. Positions are in twips, 15 to a pixel at 96 dpi.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "Resize.h"

namespace Resize {

class QtControl final : public Control {
 public:
  explicit QtControl(QWidget* widget) : widget_(widget) {}
  std::string Name() const override;
  std::optional<std::int32_t> Index() const override;
  std::optional<std::int32_t> Left() const override;
  std::optional<std::int32_t> Top() const override;
  std::optional<std::int32_t> Width() const override;
  std::optional<std::int32_t> Height() const override;
  // A drop-down box refuses a height: it keeps the one its style gives it.
  bool Move(std::int32_t left, std::int32_t top, std::optional<std::int32_t> width,
            std::optional<std::int32_t> height) override;

 private:
  QPointer<QWidget> widget_;
};

class QtWindow final : public Window {
 public:
  QtWindow(QWidget* window, QWidget* inner, const QList<QWidget*>& controls);
  std::string Name() const override;
  double Top() const override;
  double Left() const override;
  double Height() const override;
  double Width() const override;
  double InnerHeight() const override;
  double InnerWidth() const override;
  std::vector<Control*> Controls() override;

 private:
  QWidget* window_;
  QWidget* inner_;
  std::vector<QtControl> controls_;
};

// Keeps `controls` of `window` in proportion to the size of `inner`; call it
// from the window's resize event.
void ResizeForm(QWidget* window, QWidget* inner, const QList<QWidget*>& controls,
                Module& module = ProgramModule());

}  // namespace Resize

// The Resize module applied to Qt widgets: a window is a top-level widget with
// an inner widget (the client area its controls are laid out in), a control
// is a widget with an objectName and, inside a control array, an integer
// "index" property. Positions are in twips, 15 to a pixel at 96 dpi.
//
// A control's position is the one its layout gives it. For a control on a tab
// page that is relative to the tab control, not to the page below the tab
// bar: the adapter reads and writes it through the page's origin inside the
// tab control, so that scaling moves the control as the layout means and the
// tab bar's height is not scaled into its place.
#pragma once

#include <QHash>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "Resize.h"

namespace Resize {

class QtControl final : public Control {
 public:
  // `origin`: where the control's parent lies in the coordinates its position
  // is given in (a tab page's place inside its tab control), in pixels.
  explicit QtControl(QWidget* widget, QPoint origin = {}) : widget_(widget), origin_(origin) {}
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
  QPoint origin_;
};

class QtWindow final : public Window {
 public:
  // `origins`: for a container whose controls are positioned relative to
  // another widget (a tab page in its tab control), where its (0, 0) lies there.
  QtWindow(QWidget* window, QWidget* inner, const QList<QWidget*>& controls,
           const QHash<QWidget*, QPoint>& origins = {});
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
// from the window's resize event. `origins` as for QtWindow.
void ResizeForm(QWidget* window, QWidget* inner, const QList<QWidget*>& controls,
                const QHash<QWidget*, QPoint>& origins = {}, Module& module = ProgramModule());

}  // namespace Resize

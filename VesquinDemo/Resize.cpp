#include "Resize.h"

#include <cmath>
#include <limits>

namespace Resize {

namespace {

// Rounds a twip measure to the nearest whole number (ties to even, as the
// platform's conversion to a 32-bit integer does); 0 when it does not fit.
std::int32_t RoundTwips(double value) {
  const double r = std::nearbyint(value);
  if (!std::isfinite(r) || r < std::numeric_limits<std::int32_t>::min() ||
      r > std::numeric_limits<std::int32_t>::max())
    return 0;
  return static_cast<std::int32_t>(r);
}

// A recorded left must be the visible one: controls of an inactive tab page
// sit kHiddenPageOffset twips to the left of it.
std::int32_t Visible(std::int32_t left) { return left < 0 ? left + kHiddenPageOffset : left; }

std::optional<std::int32_t> Percent(double current, std::int32_t recorded) {
  if (recorded == 0) return std::nullopt;
  const double scaled = std::nearbyint(current * 100.0);
  if (!std::isfinite(scaled) || std::fabs(scaled) > 9.0e15) return std::nullopt;
  // Integer division of the rounded product, truncated toward zero.
  const std::int64_t percent = static_cast<std::int64_t>(scaled) / recorded;
  if (percent < std::numeric_limits<std::int32_t>::min() || percent > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(percent);
}

}  // namespace

std::int32_t Scale(std::int32_t value, std::int32_t percent) {
  // C++ integer division truncates toward zero, as the module's div does.
  const std::int64_t product = static_cast<std::int64_t>(value) * percent;
  return static_cast<std::int32_t>(product / 100);
}

void Module::ResizeForm(Window& window) {
  if (busy_) return;
  busy_ = true;
  if (window.Top() >= kOffScreenTop) {
    busy_ = false;
    return;
  }
  for (Control* control : window.Controls()) {
    if (control) ResizeControl(*control, window);
  }
  busy_ = false;
}

int Module::FindWindowRecord(const Window& window) const {
  const std::string name = window.Name();
  for (std::size_t i = 0; i < windows_.size(); ++i) {
    if (windows_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int Module::RegisterWindow(Window& window) {
  WindowRecord record;
  record.name = window.Name();
  record.top = RoundTwips(window.Top());
  record.left = RoundTwips(window.Left());
  record.height = RoundTwips(window.Height());
  record.width = RoundTwips(window.Width());
  record.inner_height = RoundTwips(window.InnerHeight());
  record.inner_width = RoundTwips(window.InnerWidth());
  windows_.push_back(record);
  const int index = static_cast<int>(windows_.size()) - 1;
  for (Control* control : window.Controls()) {
    if (control && FindControlRecord(*control, record.name) < 0) RegisterControl(*control, record.name);
  }
  return index;
}

int Module::FindControlRecord(const Control& control, const std::string& window_name) const {
  const std::string name = control.Name();
  const std::optional<std::int32_t> index = control.Index();
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlRecord& r = controls_[i];
    if (r.window_name != window_name || r.name != name) continue;
    if (index && r.index != *index) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int Module::RegisterControl(Control& control, const std::string& window_name) {
  // Each field is filled in its own step; a step that fails leaves it 0.
  ControlRecord record;
  record.name = control.Name();
  record.index = control.Index().value_or(0);
  record.window_name = window_name;
  if (control.IsLine()) {
    record.top = control.Y1().value_or(0);
    record.left = Visible(control.X1().value_or(0));
    record.height = control.Y2().value_or(0);
    record.width = Visible(control.X2().value_or(0));
  } else {
    record.top = control.Top().value_or(0);
    record.left = Visible(control.Left().value_or(0));
    record.height = control.Height().value_or(0);
    record.width = control.Width().value_or(0);
  }
  controls_.push_back(record);
  control.SetIntegralHeight(false);
  return static_cast<int>(controls_.size()) - 1;
}

std::optional<std::int32_t> Module::WidthPercent(Window& window) {
  int r = FindWindowRecord(window);
  if (r < 0) r = RegisterWindow(window);
  return Percent(window.InnerWidth(), windows_[r].inner_width);
}

std::optional<std::int32_t> Module::HeightPercent(Window& window) {
  int r = FindWindowRecord(window);
  if (r < 0) r = RegisterWindow(window);
  return Percent(window.InnerHeight(), windows_[r].inner_height);
}

void Module::ResizeControl(Control& control, Window& window) {
  const std::optional<std::int32_t> h = HeightPercent(window);
  const std::optional<std::int32_t> w = WidthPercent(window);
  // A window registered without an inner area has no proportions to keep.
  if (!h || !w) return;
  const int r = FindControlRecord(control, window.Name());
  if (r < 0) return;  // not recorded: nothing to scale from
  const ControlRecord rec = controls_[r];

  if (control.IsLine()) {
    std::int32_t x1 = Scale(rec.left, *w);
    if (control.X1().value_or(0) < 0) x1 -= kHiddenPageOffset;
    std::int32_t x2 = Scale(rec.width, *w);
    if (control.X2().value_or(0) < 0) x2 -= kHiddenPageOffset;
    control.SetX1(x1);
    control.SetY1(Scale(rec.top, *h));
    control.SetX2(x2);
    control.SetY2(Scale(rec.height, *h));
    return;
  }

  std::int32_t left = Scale(rec.left, *w);
  if (control.Left().value_or(0) < 0) left -= kHiddenPageOffset;
  const std::int32_t top = Scale(rec.top, *h);
  const std::int32_t width = Scale(rec.width, *w);
  const std::int32_t height = Scale(rec.height, *h);
  // Three moves: a control that refuses a height (a drop-down box) still gets
  // its width, one that refuses any size still gets its position.
  control.Move(left, top, width, height);
  control.Move(left, top, width, std::nullopt);
  control.Move(left, top, std::nullopt, std::nullopt);
}

Module& ProgramModule() {
  static Module module;
  return module;
}

}  // namespace Resize

// Resize: keeps a window's controls in proportion when its inner area changes
// size.
//
// The first time the module sees a window it records the window's inner size
// and every control's rectangle (the design layout). On every later size
// change each control is set to its recorded rectangle scaled by the ratio of
// the current inner size to the recorded one, as whole percentages, separately
// for width and height. Sizes are always computed from the recorded values, so
// repeated resizing never accumulates rounding.
//
// The module knows nothing about a widget toolkit: a window and its controls
// are reached through the small Window and Control interfaces below, in twips.
// A tab container that hides the controls of its inactive pages by moving them
// 75000 twips to the left keeps doing so: the tables hold the visible position
// and the offset is put back on every move.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Resize {

// How far a tab container moves the controls of an inactive page to the left.
inline constexpr std::int32_t kHiddenPageOffset = 75000;
// A window whose top lies this far down (a minimised one) is left alone.
inline constexpr std::int32_t kOffScreenTop = 30000;

// What the module needs of one control. Every operation may fail (nullopt or
// false): a label has no IntegralHeight, a menu entry has no position, a
// drop-down box refuses a height. Failures are skipped one step at a time.
class Control {
 public:
  virtual ~Control() = default;
  virtual std::string Name() const = 0;
  // The control's index within its control array; nullopt outside an array.
  virtual std::optional<std::int32_t> Index() const = 0;
  // A line shape is placed by its two end points instead of a rectangle.
  virtual bool IsLine() const { return false; }

  virtual std::optional<std::int32_t> Left() const = 0;
  virtual std::optional<std::int32_t> Top() const = 0;
  virtual std::optional<std::int32_t> Width() const = 0;
  virtual std::optional<std::int32_t> Height() const = 0;
  // Moves the control; a missing width or height keeps the current one.
  // Returns false when the control refuses the move as a whole.
  virtual bool Move(std::int32_t left, std::int32_t top, std::optional<std::int32_t> width,
                    std::optional<std::int32_t> height) = 0;

  // End points of a line shape.
  virtual std::optional<std::int32_t> X1() const { return std::nullopt; }
  virtual std::optional<std::int32_t> Y1() const { return std::nullopt; }
  virtual std::optional<std::int32_t> X2() const { return std::nullopt; }
  virtual std::optional<std::int32_t> Y2() const { return std::nullopt; }
  virtual bool SetX1(std::int32_t) { return false; }
  virtual bool SetY1(std::int32_t) { return false; }
  virtual bool SetX2(std::int32_t) { return false; }
  virtual bool SetY2(std::int32_t) { return false; }

  // List boxes snap their height to whole lines unless told not to.
  virtual bool SetIntegralHeight(bool) { return false; }
};

// What the module needs of a window, in twips. The inner size is the client
// area the controls are laid out in (without border, caption and menu).
class Window {
 public:
  virtual ~Window() = default;
  virtual std::string Name() const = 0;
  virtual double Top() const = 0;
  virtual double Left() const = 0;
  virtual double Height() const = 0;
  virtual double Width() const = 0;
  virtual double InnerHeight() const = 0;
  virtual double InnerWidth() const = 0;
  // The window's controls in its own order.
  virtual std::vector<Control*> Controls() = 0;
};

struct WindowRecord {
  std::string name;
  std::int32_t top = 0, left = 0, height = 0, width = 0;
  std::int32_t inner_height = 0, inner_width = 0;
};

// For a line shape top/left/height/width hold y1/x1/y2/x2.
struct ControlRecord {
  std::string name;
  std::int32_t index = 0;
  std::string window_name;
  std::int32_t top = 0, left = 0, height = 0, width = 0;
};

// The module's state: one table of windows, one of controls, and the busy
// flag. Tables only grow. Not thread-safe: the user-interface thread owns it.
class Module {
 public:
  // Scales every control of `window` to the window's current inner size.
  // Returns at once when a resize is already running (a resize event raised by
  // the moves themselves) or when the window's top is kOffScreenTop or more.
  void ResizeForm(Window& window);

  // Index of the window's record, or -1.
  int FindWindowRecord(const Window& window) const;
  // Records the window and each of its controls not yet recorded; returns the
  // new record's index.
  int RegisterWindow(Window& window);
  // Index of the control's record (same window name, control name and index;
  // a control outside an array matches on the two names), or -1.
  int FindControlRecord(const Control& control, const std::string& window_name) const;
  int RegisterControl(Control& control, const std::string& window_name);

  // round(current inner size x 100) div recorded inner size, registering the
  // window first when needed. nullopt when the recorded size is 0: there is
  // no proportion to keep.
  std::optional<std::int32_t> WidthPercent(Window& window);
  std::optional<std::int32_t> HeightPercent(Window& window);

  void ResizeControl(Control& control, Window& window);

  const std::vector<WindowRecord>& windows() const { return windows_; }
  const std::vector<ControlRecord>& controls() const { return controls_; }
  bool busy() const { return busy_; }

 private:
  std::vector<WindowRecord> windows_;
  std::vector<ControlRecord> controls_;
  bool busy_ = false;
};

// value x percent div 100, truncated toward zero.
std::int32_t Scale(std::int32_t value, std::int32_t percent);

// The program's one instance of the module.
Module& ProgramModule();

}  // namespace Resize

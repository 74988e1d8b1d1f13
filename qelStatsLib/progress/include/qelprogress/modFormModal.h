// modFormModal: the one window-system call the library makes itself, the one
// that puts the progress window above every other window.
//
// It keeps the shape of the classic window-position call so the run code reads
// the same on every platform: a window, where it goes in the stacking order,
// a position and size, and flags saying which of those to leave alone.
//
//   SetWindowPos(form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
//
// makes `form` top-most and shows it where it already is, at the size it has.
#pragma once

#include <cstdint>

class QWidget;

namespace qel {

// Where the window goes in the stacking order.
inline constexpr std::intptr_t HWND_TOP = 0;         // above its peers
inline constexpr std::intptr_t HWND_BOTTOM = 1;      // below its peers
inline constexpr std::intptr_t HWND_TOPMOST = -1;    // above every window that is not top-most, and stays there
inline constexpr std::intptr_t HWND_NOTOPMOST = -2;  // no longer top-most

// Which parts of the call apply.
inline constexpr unsigned SWP_NOSIZE = 0x0001;      // keep the size; cx, cy are ignored
inline constexpr unsigned SWP_NOMOVE = 0x0002;      // keep the position; x, y are ignored
inline constexpr unsigned SWP_NOZORDER = 0x0004;    // keep the stacking order; hWndInsertAfter is ignored
inline constexpr unsigned SWP_NOACTIVATE = 0x0010;  // do not give the window the focus
inline constexpr unsigned SWP_SHOWWINDOW = 0x0040;  // show the window
inline constexpr unsigned SWP_HIDEWINDOW = 0x0080;  // hide the window

// Places the top-level window `hWnd` in the stacking order, moves it to x, y
// (screen pixels, its frame's top-left corner), sizes its client area to
// cx × cy, and shows or hides it, each unless a flag says to leave it.
// Returns nonzero on success, 0 when `hWnd` is null or not a top-level window.
// The library ignores the result, as it ignores every failure to decorate its
// progress window.
long SetWindowPos(QWidget* hWnd, std::intptr_t hWndInsertAfter, int x, int y, int cx, int cy, unsigned wFlags);

}  // namespace qel

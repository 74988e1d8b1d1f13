#include "qelprogress/modFormModal.h"

#include <QWidget>

namespace qel {

long SetWindowPos(QWidget* hWnd, std::intptr_t hWndInsertAfter, int x, int y, int cx, int cy, unsigned wFlags) {
  if (!hWnd || !hWnd->isWindow()) return 0;

  if (!(wFlags & SWP_NOZORDER)) {
    const bool on_top = hWnd->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    const bool want_on_top = hWndInsertAfter == HWND_TOPMOST ? true
                             : hWndInsertAfter == HWND_NOTOPMOST ? false
                                                                 : on_top;
    if (want_on_top != on_top) {
      // Changing a window's flags recreates it hidden and may forget where it
      // was: put it back exactly as it stood.
      const QPoint pos = hWnd->pos();
      const bool visible = hWnd->isVisible();
      hWnd->setWindowFlag(Qt::WindowStaysOnTopHint, want_on_top);
      hWnd->move(pos);
      if (visible) hWnd->show();
    }
    if (hWndInsertAfter == HWND_BOTTOM) {
      hWnd->lower();
    } else if (hWndInsertAfter == HWND_TOP || hWndInsertAfter == HWND_TOPMOST) {
      hWnd->raise();
    }
  }
  if (!(wFlags & SWP_NOMOVE)) hWnd->move(x, y);
  if (!(wFlags & SWP_NOSIZE)) hWnd->resize(cx, cy);
  if (wFlags & SWP_SHOWWINDOW) {
    if (wFlags & SWP_NOACTIVATE) hWnd->setAttribute(Qt::WA_ShowWithoutActivating);
    hWnd->show();
  } else if (wFlags & SWP_HIDEWINDOW) {
    hWnd->hide();
  }
  return 1;
}

}  // namespace qel

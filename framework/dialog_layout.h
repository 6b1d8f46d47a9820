// Small layout corrections applied when a dialog initialises.
#pragma once

#include <windows.h>

// Dialog units are converted with rounding, so with some fonts a label that
// ends exactly where the field below it starts overlaps the field's top
// border by a pixel and hides it. Shortens the upper control until it ends
// where the lower one begins; does nothing when they do not overlap.
inline void KeepAbove(HWND dialog, int upperId, int lowerId) {
  HWND upper = GetDlgItem(dialog, upperId);
  HWND lower = GetDlgItem(dialog, lowerId);
  RECT u{};
  RECT l{};
  if (!upper || !lower || !GetWindowRect(upper, &u) || !GetWindowRect(lower, &l)) return;
  if (u.bottom <= l.top || u.top >= l.top) return;
  SetWindowPos(upper, nullptr, 0, 0, u.right - u.left, l.top - u.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

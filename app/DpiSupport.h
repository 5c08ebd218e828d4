#pragma once
// The display scale of a window. The calls that tell it per window or per
// monitor came with later versions of Windows (8.1, 10 1607, 10 1703), so
// they are looked up at run time; where one is missing the next older way
// answers, down to the system DPI that every version has.
#include <windows.h>

namespace DpiSupport {

// The DPI at which the program's pixel figures were drawn.
constexpr UINT kReferenceDpi = 96;

// The DPI of the monitor the window is on; the system DPI where the system
// knows only that.
UINT ForWindow(HWND window);

// A length given in pixels at 96 DPI, at the given DPI.
int Scale(int pixelsAtReference, UINT dpi);

// The window rectangle around the client rectangle, with the frame metrics
// of the given DPI.
bool AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, UINT dpi);

// Asks the dialog manager to leave the dialog to its own layout when it
// moves to a monitor of another scale (it would otherwise rescale the
// template's positions over it). Nothing on systems without that behaviour.
void TakeOverDialogScaling(HWND dialog);

}  // namespace DpiSupport

#pragma once
// A small modal dialog built in memory for the driver's own tests: an enabled
// and a disabled push button, a Close button (IDCANCEL), a status text and a
// hidden static. Its procedure ends the dialog with the id of any button whose
// click reaches it, so a click that should have been ignored shows up as a
// wrong result.
#include <windows.h>

#include <functional>
#include <string>

namespace testdialog {

constexpr int kEnabledButton = 1006;
constexpr int kDisabledButton = 1010;
constexpr int kStatusText = 1007;
constexpr int kHiddenText = 1011;
constexpr INT_PTR kSafetyTimeout = -2;

extern const wchar_t kCaption[];
extern const wchar_t kStatus[];
extern const wchar_t kEnabledText[];
extern const wchar_t kCloseText[];

// Runs the dialog on the calling thread while `drive` runs on a second thread
// with the dialog's window (nullptr when none appeared in time). Returns the
// dialog's result; kSafetyTimeout when nothing ended it within 20 seconds.
INT_PTR RunWhile(const std::function<void(HWND)>& drive);

}  // namespace testdialog

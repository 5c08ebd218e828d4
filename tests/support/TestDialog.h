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

// Under Wine without a window manager (Xvfb), a captioned window is left for
// the window manager to decorate, so nothing draws its caption and a click
// on the close box falls through to the desktop. This asks Wine, for this
// program only, to draw the caption itself, as Windows does. It must run
// before the first window is made (Wine reads it when its display driver
// loads); the destructor removes the setting again. Does nothing on Windows.
class WineDrawsOwnCaption {
public:
    WineDrawsOwnCaption();
    ~WineDrawsOwnCaption();
    WineDrawsOwnCaption(const WineDrawsOwnCaption&) = delete;
    WineDrawsOwnCaption& operator=(const WineDrawsOwnCaption&) = delete;

private:
    std::wstring key_;
};

// Runs the dialog on the calling thread while `drive` runs on a second thread
// with the dialog's window (nullptr when none appeared in time). Returns the
// dialog's result; kSafetyTimeout when nothing ended it within 20 seconds.
INT_PTR RunWhile(const std::function<void(HWND)>& drive);

}  // namespace testdialog

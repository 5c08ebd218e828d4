#pragma once
// Drives a modal dialog the way a person at the machine would, for tests and
// for the demo's scripts: find it, read its texts and states, press its
// buttons, Escape or the caption's close box, and wait for it to go.
//
// Buttons, Escape and the close box are pressed with real input (SendInput),
// so that the window manager's rules apply: a disabled button ignores a
// click, Escape goes through the dialog manager's keyboard handling, the
// close box through the caption's own hit test. When real input cannot reach
// the dialog (the point is covered by another window, the cursor cannot be
// moved, the dialog cannot be made the foreground window), each action falls
// back to posting the messages that the input would have produced; see
// DialogDriver.cpp for the details of each fallback.
//
// All functions work on dialogs of this process (called from a second thread
// while the first runs the modal loop) and of other processes alike.
#include <windows.h>

#include <string>

namespace DialogDriver {

// How the last Click, PressEscape or PressCloseBox reached the dialog.
enum class InputMethod {
    None,       // nothing was delivered (no such control, no dialog)
    RealInput,  // SendInput: mouse or keyboard
    Messages,   // posted messages (the fallback, or forced)
};

// RealInput (the default) tries real input first and falls back to messages;
// Messages skips real input altogether (for hosts where input is not wanted).
void SetPreferredInputMethod(InputMethod method);
InputMethod LastInputMethod();

// The first visible and enabled top-level dialog (class "#32770"), topmost
// first, of the process, or of any process when processId is 0 (a dialog
// disabled under a nested modal one is passed over); polls every 50 ms;
// nullptr after timeoutMs.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs);

// The dialog found first right now, without waiting (nullptr when none).
HWND FindDialog(DWORD processId);

std::wstring WindowText(HWND window);
std::wstring ItemText(HWND dialog, int id);
// False for a control that does not exist.
bool ItemEnabled(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);

// A left click at the centre of the control. True when the click was made at
// the control's place: a disabled button then ignores it, as it would ignore
// a person's click. False when the control does not exist or is hidden.
bool Click(HWND dialog, int id);
// The Escape key pressed in the dialog.
bool PressEscape(HWND dialog);
// A click on the caption's close box.
bool PressCloseBox(HWND dialog);

// Under Wine without a window manager (Xvfb), a captioned window is left for
// the window manager to decorate, so nothing draws its caption and a click
// on the close box falls through to the desktop. This asks Wine, for this
// program only, to draw the caption itself, as Windows does. It must run
// before the first window is made (Wine reads it when its display driver
// loads), for example from a global object of a test program; the
// destructor removes the setting again (one made by someone else is left
// alone). Does nothing on Windows. Scripts get
// the same for every program with the value Decorated = "N" under
// HKCU\Software\Wine\X11 Driver of their prefix.
class WineDrawsOwnCaption {
public:
    WineDrawsOwnCaption();
    ~WineDrawsOwnCaption();
    WineDrawsOwnCaption(const WineDrawsOwnCaption&) = delete;
    WineDrawsOwnCaption& operator=(const WineDrawsOwnCaption&) = delete;

private:
    std::wstring key_;     // HKCU path of the value's key, empty when not set by us
    std::wstring appKey_;
};

// True once the window is destroyed or hidden (a modal dialog is hidden as
// soon as EndDialog runs); false after timeoutMs.
bool WaitForClose(HWND window, DWORD timeoutMs);

}  // namespace DialogDriver

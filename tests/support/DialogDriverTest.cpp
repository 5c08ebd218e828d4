// The dialog driver against a real modal dialog of this process, run on the
// main thread while the driver works from a second one.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestDialog.h"
#include "tools/dialogdriver/DialogDriver.h"

using DialogDriver::InputMethod;
using namespace testdialog;

namespace {

// Made before main, ahead of the first window.
const DialogDriver::WineDrawsOwnCaption g_ownCaption;

class DialogDriverByMethod : public ::testing::TestWithParam<InputMethod> {
protected:
    void SetUp() override { DialogDriver::SetPreferredInputMethod(GetParam()); }
    void TearDown() override { DialogDriver::SetPreferredInputMethod(InputMethod::RealInput); }
};

struct Steps {
    bool found = false;
    bool pressed = false;
    bool closed = false;
    InputMethod used = InputMethod::None;
};

TEST_P(DialogDriverByMethod, ClickOnEnabledButtonEndsDialogWithItsId) {
    Steps steps;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        steps.found = dialog != nullptr;
        if (!dialog) return;
        steps.pressed = DialogDriver::Click(dialog, kEnabledButton);
        steps.used = DialogDriver::LastInputMethod();
        steps.closed = DialogDriver::WaitForClose(dialog, 5000);
    });
    ASSERT_TRUE(steps.found);
    EXPECT_TRUE(steps.pressed);
    EXPECT_TRUE(steps.closed);
    EXPECT_EQ(kEnabledButton, result);
    EXPECT_EQ(GetParam(), steps.used);
}

TEST_P(DialogDriverByMethod, ClickOnDisabledButtonLeavesDialogOpen) {
    Steps steps;
    bool closedByDisabledClick = true;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        steps.found = dialog != nullptr;
        if (!dialog) return;
        steps.pressed = DialogDriver::Click(dialog, kDisabledButton);
        steps.used = DialogDriver::LastInputMethod();
        closedByDisabledClick = DialogDriver::WaitForClose(dialog, 800);
        DialogDriver::Click(dialog, IDCANCEL);
        steps.closed = DialogDriver::WaitForClose(dialog, 5000);
    });
    ASSERT_TRUE(steps.found);
    EXPECT_TRUE(steps.pressed) << "a visible disabled button can still be clicked at";
    EXPECT_FALSE(closedByDisabledClick);
    EXPECT_TRUE(steps.closed);
    EXPECT_EQ(IDCANCEL, result) << "only the Close button may have ended the dialog";
    EXPECT_EQ(GetParam(), steps.used);
}

TEST_P(DialogDriverByMethod, EscapeEndsDialogWithCancel) {
    Steps steps;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        steps.found = dialog != nullptr;
        if (!dialog) return;
        steps.pressed = DialogDriver::PressEscape(dialog);
        steps.used = DialogDriver::LastInputMethod();
        steps.closed = DialogDriver::WaitForClose(dialog, 5000);
    });
    ASSERT_TRUE(steps.found);
    EXPECT_TRUE(steps.pressed);
    EXPECT_TRUE(steps.closed);
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(GetParam(), steps.used);
}

TEST_P(DialogDriverByMethod, CloseBoxEndsDialogWithCancel) {
    Steps steps;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        steps.found = dialog != nullptr;
        if (!dialog) return;
        steps.pressed = DialogDriver::PressCloseBox(dialog);
        steps.used = DialogDriver::LastInputMethod();
        steps.closed = DialogDriver::WaitForClose(dialog, 5000);
    });
    ASSERT_TRUE(steps.found);
    EXPECT_TRUE(steps.pressed);
    EXPECT_TRUE(steps.closed);
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(GetParam(), steps.used);
}

INSTANTIATE_TEST_SUITE_P(InputMethods, DialogDriverByMethod,
                         ::testing::Values(InputMethod::RealInput, InputMethod::Messages),
                         [](const ::testing::TestParamInfo<InputMethod>& info) {
                             return std::string(info.param == InputMethod::RealInput ? "RealInput" : "Messages");
                         });

TEST(DialogDriverTest, TextsAndStatesReadBack) {
    std::wstring caption, status, enabledText, closeText, missingText;
    bool enabled = false, disabled = true, statusVisible = false, hiddenVisible = true;
    bool missingEnabled = true, missingVisible = true;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        if (!dialog) return;
        caption = DialogDriver::WindowText(dialog);
        status = DialogDriver::ItemText(dialog, kStatusText);
        enabledText = DialogDriver::ItemText(dialog, kEnabledButton);
        closeText = DialogDriver::ItemText(dialog, IDCANCEL);
        missingText = DialogDriver::ItemText(dialog, 4242);
        enabled = DialogDriver::ItemEnabled(dialog, kEnabledButton);
        disabled = DialogDriver::ItemEnabled(dialog, kDisabledButton);
        statusVisible = DialogDriver::ItemVisible(dialog, kStatusText);
        hiddenVisible = DialogDriver::ItemVisible(dialog, kHiddenText);
        missingEnabled = DialogDriver::ItemEnabled(dialog, 4242);
        missingVisible = DialogDriver::ItemVisible(dialog, 4242);
        DialogDriver::PressEscape(dialog);
        DialogDriver::WaitForClose(dialog, 5000);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(kCaption, caption);
    EXPECT_EQ(kStatus, status);
    EXPECT_EQ(kEnabledText, enabledText);
    EXPECT_EQ(kCloseText, closeText);
    EXPECT_EQ(L"", missingText);
    EXPECT_TRUE(enabled);
    EXPECT_FALSE(disabled);
    EXPECT_TRUE(statusVisible);
    EXPECT_FALSE(hiddenVisible);
    EXPECT_FALSE(missingEnabled);
    EXPECT_FALSE(missingVisible);
}

TEST(DialogDriverTest, WaitForDialogSeesOnlyTheGivenProcess) {
    HWND otherProcess = reinterpret_cast<HWND>(1);
    HWND anyProcess = nullptr;
    HWND thisProcess = nullptr;
    HWND shown = nullptr;
    RunWhile([&](HWND dialog) {
        shown = dialog;
        if (!dialog) return;
        // Process ids are multiples of four; this one belongs to nobody.
        otherProcess = DialogDriver::WaitForDialog(::GetCurrentProcessId() + 2, 300);
        anyProcess = DialogDriver::FindDialog(0);
        thisProcess = DialogDriver::FindDialog(::GetCurrentProcessId());
        DialogDriver::Click(dialog, IDCANCEL);
        DialogDriver::WaitForClose(dialog, 5000);
    });
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ(nullptr, otherProcess);
    EXPECT_NE(nullptr, anyProcess);
    EXPECT_EQ(shown, thisProcess);
}

TEST(DialogDriverTest, WaitsTimeOutWhileNothingChanges) {
    EXPECT_EQ(nullptr, DialogDriver::WaitForDialog(::GetCurrentProcessId(), 200)) << "no dialog is open";
    bool closedEarly = true;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        if (!dialog) return;
        closedEarly = DialogDriver::WaitForClose(dialog, 300);
        DialogDriver::PressEscape(dialog);
        DialogDriver::WaitForClose(dialog, 5000);
    });
    EXPECT_FALSE(closedEarly);
    EXPECT_EQ(IDCANCEL, result);
}

TEST(DialogDriverTest, ActionsOnMissingTargetsFail) {
    bool clickedMissing = true;
    bool clickedHidden = true;
    RunWhile([&](HWND dialog) {
        if (!dialog) return;
        clickedMissing = DialogDriver::Click(dialog, 4242);
        clickedHidden = DialogDriver::Click(dialog, kHiddenText);
        DialogDriver::Click(dialog, IDCANCEL);
        DialogDriver::WaitForClose(dialog, 5000);
    });
    EXPECT_FALSE(clickedMissing);
    EXPECT_FALSE(clickedHidden);
    EXPECT_FALSE(DialogDriver::PressEscape(nullptr));
    EXPECT_FALSE(DialogDriver::PressCloseBox(nullptr));
    EXPECT_TRUE(DialogDriver::WaitForClose(nullptr, 100)) << "no window is a closed window";
}

}  // namespace

namespace {

bool CaptionSettingPresent() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name + L"\\X11 Driver";
    return ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Decorated", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

TEST(DialogDriverTest, CaptionSettingMadeBySomeoneElseOutlivesASecondHolder) {
    if (!::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "Wine only";
    ASSERT_TRUE(CaptionSettingPresent()) << "the program's global holder set it";
    { const DialogDriver::WineDrawsOwnCaption second; }
    EXPECT_TRUE(CaptionSettingPresent());
}

}  // namespace

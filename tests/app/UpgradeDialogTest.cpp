// The upgrade dialog on a real display: its texts and button states, the way
// each window ends, and the wait mode's dot animation and stop flag. The
// windows are driven from a second thread with real input while this thread
// runs the modal loop.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/UpgradeDialog.h"
#include "app/UpgradeDialogLayout.h"
#include "tools/dialogdriver/DialogDriver.h"

namespace {

constexpr DWORD kFindTimeoutMs = 10000;
constexpr DWORD kCloseTimeoutMs = 5000;

// Records every timer tick's outcome; the behaviour is UpgradeDialog's own.
class RecordingDialog : public UpgradeDialog {
public:
    bool OnTimer(UINT_PTR timerId) override {
        const bool handled = UpgradeDialog::OnTimer(timerId);
        messages.push_back(m_message);
        ticks = messages.size();
        return handled;
    }
    std::vector<std::wstring> messages;
    // The count, for the driving thread.
    std::atomic<size_t> ticks{0};
};

UpgradeDialog& Filled(UpgradeDialog& dialog, const std::wstring& message) {
    dialog.m_title = L"K-Vantor Homeguard";
    dialog.m_message = message;
    dialog.m_closeText = L"&Close";
    dialog.m_upgradeText = L"Upgrade";
    return dialog;
}

// What the person at the machine saw and did while the dialog ran.
struct Seen {
    std::wstring caption;
    std::wstring status;
    std::wstring closeText;
    std::wstring upgradeText;
    bool upgradeEnabled = false;
    bool closeEnabled = false;
    bool upgradeVisible = false;
    HFONT statusFont = nullptr;
};

// Runs the dialog modally; the driver thread finds it, reads it and acts.
INT_PTR RunDriven(UpgradeDialog& dialog, Seen& seen, const std::function<void(HWND)>& act) {
    std::thread person([&] {
        HWND window = DialogDriver::WaitForDialog(::GetCurrentProcessId(), kFindTimeoutMs);
        if (!window) {
            ADD_FAILURE() << "the dialog did not show";
            return;
        }
        seen.caption = DialogDriver::WindowText(window);
        seen.status = DialogDriver::ItemText(window, UpgradeDialog::IDC_STATUS_TEXT);
        seen.closeText = DialogDriver::ItemText(window, IDCANCEL);
        seen.upgradeText = DialogDriver::ItemText(window, UpgradeDialog::IDC_UPGRADE);
        seen.upgradeEnabled = DialogDriver::ItemEnabled(window, UpgradeDialog::IDC_UPGRADE);
        seen.closeEnabled = DialogDriver::ItemEnabled(window, IDCANCEL);
        seen.upgradeVisible = DialogDriver::ItemVisible(window, UpgradeDialog::IDC_UPGRADE);
        seen.statusFont = reinterpret_cast<HFONT>(
            ::SendMessageW(::GetDlgItem(window, UpgradeDialog::IDC_STATUS_TEXT), WM_GETFONT, 0, 0));
        act(window);
    });
    const INT_PTR result = dialog.DoModal();
    person.join();
    return result;
}

TEST(UpgradeDialogDots, EachTickAdvancesTheTrailingDotsUpToSevenThenNone) {
    struct Case {
        const wchar_t* before;
        const wchar_t* after;
    };
    const Case cases[] = {
        {L"Please wait...", L"Please wait...."},
        {L"Please wait......", L"Please wait......."},
        {L"Please wait.......", L"Please wait"},
        {L"Please wait........", L"Please wait"},
        {L"Please wait", L"Please wait."},
        {L"", L"."},
        {L".......", L""},
        {L"...", L"...."},
        {L"v1.5 ready", L"v1.5 ready."},
        {L"Odota . . .", L"Odota . . .."},
    };
    for (const Case& c : cases) EXPECT_EQ(c.after, UpgradeDialog::NextDots(c.before)) << c.before;
}

TEST(UpgradeDialogDots, TheSequenceRepeatsEveryEightTicks) {
    std::wstring text = L"Bitte warten...";
    std::vector<size_t> counts;
    for (int tick = 0; tick < 10; ++tick) {
        text = UpgradeDialog::NextDots(text);
        counts.push_back(text.size() - std::wstring(L"Bitte warten").size());
    }
    EXPECT_EQ((std::vector<size_t>{4, 5, 6, 7, 0, 1, 2, 3, 4, 5}), counts);
}

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(UpgradeDialogLayoutBands, BannerSpansTheClientWithTheArtsProportionsAndTheBandLiesBelowIt) {
    struct Case {
        int clientWidth;
        UINT dpi;
        RECT banner;
        RECT band;
    };
    const Case cases[] = {
        // The reference font at 96 DPI: the fixed pixels of the old layout.
        {420, 96, {0, 0, 421, 55}, {-1, 55, 422, 140}},
        // A wider dialog font at 96 DPI: a taller banner, the band as high as before.
        {460, 96, {0, 0, 461, 60}, {-1, 60, 462, 145}},
        {630, 144, {0, 0, 631, 82}, {-1, 82, 632, 210}},
        {840, 192, {0, 0, 841, 110}, {-1, 110, 842, 280}},
    };
    for (const Case& c : cases) {
        const UpgradeDialogLayout::Bands bands = UpgradeDialogLayout::BannerAndBand(c.clientWidth, c.dpi);
        EXPECT_TRUE(bands.banner == c.banner) << c.clientWidth << " at " << c.dpi;
        EXPECT_TRUE(bands.band == c.band) << c.clientWidth << " at " << c.dpi;
    }
}

TEST(UpgradeDialogLayoutArrange, ALongerTextGrowsItsControlTheBandAndTheWindowAndPushesTheButtonsDown) {
    // The template as the reference font lays it out at 96 DPI.
    const UpgradeDialogLayout::Frame frame{420, 184, {17, 73, 402, 127}, {209, 150, 303, 172}, {320, 150, 414, 172}};
    const UpgradeDialogLayout::Placement grown = UpgradeDialogLayout::Arrange(frame, 96, {84, 130, 60});
    EXPECT_EQ(73 + 84, grown.status.bottom);
    EXPECT_EQ(140 + 30, grown.bands.band.bottom);
    EXPECT_TRUE(grown.close == (RECT{320, 180, 414, 202}));
    // The wider Upgrade button keeps its gap to Close and grows to the left.
    EXPECT_EQ(grown.close.left - 17, grown.upgrade.right);
    EXPECT_EQ(130, grown.upgrade.right - grown.upgrade.left);
    EXPECT_EQ(184 + 30, grown.clientHeight);
    // A wider dialog font heightens the banner (60 pixels): what lies below it moves down.
    UpgradeDialogLayout::Frame wide = frame;
    wide.clientWidth = 460;
    const UpgradeDialogLayout::Placement below = UpgradeDialogLayout::Arrange(wide, 96, {0, 0, 0});
    EXPECT_EQ(60 + 18, below.status.top);
    EXPECT_EQ(184 + 5, below.clientHeight);
}

class UpgradeDialogWindow : public ::testing::Test {};

TEST_F(UpgradeDialogWindow, OfferedUpgradeButtonEndsTheDialogWithOne) {
    UpgradeDialog dialog;
    Filled(dialog, L"Product upgrade available").m_upgradeOffered = true;
    Seen seen;
    const INT_PTR result = RunDriven(dialog, seen, [](HWND window) {
        EXPECT_TRUE(DialogDriver::Click(window, UpgradeDialog::IDC_UPGRADE));
        EXPECT_TRUE(DialogDriver::WaitForClose(window, kCloseTimeoutMs));
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(L"K-Vantor Homeguard", seen.caption);
    EXPECT_EQ(L"Product upgrade available", seen.status);
    EXPECT_EQ(L"&Close", seen.closeText);
    EXPECT_EQ(L"Upgrade", seen.upgradeText);
    EXPECT_TRUE(seen.upgradeEnabled);
    EXPECT_TRUE(seen.closeEnabled);
    ASSERT_NE(nullptr, dialog.m_font.GetSafeHandle());
    EXPECT_EQ(dialog.m_font.GetSafeHandle(), seen.statusFont);
}

TEST_F(UpgradeDialogWindow, UpgradeButtonNotOfferedStaysVisibleButIgnoresTheClick) {
    UpgradeDialog dialog;
    Filled(dialog, L"Product upgrade failed");
    Seen seen;
    bool stayedOpen = false;
    const INT_PTR result = RunDriven(dialog, seen, [&](HWND window) {
        DialogDriver::Click(window, UpgradeDialog::IDC_UPGRADE);
        stayedOpen = !DialogDriver::WaitForClose(window, 700);
        EXPECT_TRUE(DialogDriver::Click(window, IDCANCEL));
        EXPECT_TRUE(DialogDriver::WaitForClose(window, kCloseTimeoutMs));
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(seen.upgradeEnabled);
    EXPECT_TRUE(seen.upgradeVisible);
    EXPECT_TRUE(seen.closeEnabled);
}

TEST_F(UpgradeDialogWindow, EscapeAndTheCloseBoxEndTheDialogWithTwo) {
    const std::function<bool(HWND)> ways[] = {DialogDriver::PressEscape, DialogDriver::PressCloseBox};
    for (const auto& press : ways) {
        UpgradeDialog dialog;
        Filled(dialog, L"Your product is already up to date.").m_upgradeOffered = true;
        Seen seen;
        const INT_PTR result = RunDriven(dialog, seen, [&](HWND window) {
            EXPECT_TRUE(press(window));
            EXPECT_TRUE(DialogDriver::WaitForClose(window, kCloseTimeoutMs));
        });
        EXPECT_EQ(IDCANCEL, result);
    }
}

TEST_F(UpgradeDialogWindow, WaitModeDisablesBothButtonsAndAStopFlagSetEarlyClosesOnTheTwelfthTick) {
    RecordingDialog dialog;
    Filled(dialog, L"Please wait...").m_upgradeOffered = true;
    dialog.m_waitMode = true;
    dialog.m_stopSignalled = true;
    Seen seen;
    const INT_PTR result = RunDriven(dialog, seen, [](HWND window) {
        // The timer ends it; nobody presses anything.
        EXPECT_TRUE(DialogDriver::WaitForClose(window, 15000));
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_FALSE(seen.upgradeEnabled);
    EXPECT_FALSE(seen.closeEnabled);
    EXPECT_EQ(L"Please wait...", seen.status);
    EXPECT_EQ(L"&Close", seen.closeText);
    // Eleven animated ticks, then the twelfth closes the dialog.
    ASSERT_EQ(12u, dialog.messages.size());
    std::vector<size_t> dots;
    for (size_t i = 0; i < 11; ++i) dots.push_back(dialog.messages[i].size() - std::wstring(L"Please wait").size());
    EXPECT_EQ((std::vector<size_t>{4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6}), dots);
    EXPECT_EQ(dialog.messages[10], dialog.messages[11]);
    EXPECT_EQ(0u, dialog.m_timerId);
}

TEST_F(UpgradeDialogWindow, StopFlagSetLaterClosesTheDialogOnTheNextTick) {
    RecordingDialog dialog;
    Filled(dialog, L"");
    dialog.m_waitMode = true;
    Seen seen;
    size_t ticksWhenSet = 0;
    const INT_PTR result = RunDriven(dialog, seen, [&](HWND window) {
        // The person sees the dots move for a while; then the download ends.
        ::Sleep(300 * 15);
        EXPECT_FALSE(DialogDriver::WaitForClose(window, 0));
        ticksWhenSet = dialog.ticks.load();
        dialog.m_stopSignalled = true;
        EXPECT_TRUE(DialogDriver::WaitForClose(window, 3000));
    });
    EXPECT_EQ(IDOK, result);
    ASSERT_GE(dialog.messages.size(), 13u);
    EXPECT_EQ(L".", dialog.messages[0]);
    // At most one tick can fall between reading the count and setting the flag.
    EXPECT_LE(dialog.messages.size(), ticksWhenSet + 2);
}

}  // namespace

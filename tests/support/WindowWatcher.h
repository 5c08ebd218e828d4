#pragma once
// The person in front of the program: on a thread of its own it waits for
// each window the program shows, notes what it says and which buttons it
// offers, answers it as told, and waits for it to go before looking for the
// next one.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/dialogdriver/DialogDriver.h"

namespace testsupport {

enum class Answer { Close, Upgrade, Escape, CloseBox, WaitUntilItCloses };

struct SeenWindow {
    std::wstring caption;
    std::wstring status;
    std::wstring upgradeText;
    std::wstring closeText;
    bool upgradeEnabled = false;
    bool closeEnabled = false;
    DWORD shownMs = 0;  // from first seen to gone
};

class WindowWatcher {
public:
    static constexpr int kUpgradeId = 1006;
    static constexpr int kStatusId = 1007;

    // Answers the windows of the process in turn; windows beyond the list get Close.
    WindowWatcher(DWORD processId, std::vector<Answer> answers)
        : processId_(processId), answers_(std::move(answers)), thread_([this] { Watch(); }) {}
    ~WindowWatcher() { Stop(); }
    WindowWatcher(const WindowWatcher&) = delete;
    WindowWatcher& operator=(const WindowWatcher&) = delete;

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    // What was seen so far (complete once Stop has returned).
    std::vector<SeenWindow> Windows() {
        std::lock_guard<std::mutex> lock(mutex_);
        return windows_;
    }

private:
    void Watch() {
        while (!stop_) {
            HWND window = DialogDriver::FindDialog(processId_);
            if (!window) {
                ::Sleep(50);
                continue;
            }
            const DWORD shownAt = ::GetTickCount();
            // Let the dialog finish its first layout before it is read.
            ::Sleep(200);
            SeenWindow seen;
            seen.caption = DialogDriver::WindowText(window);
            seen.status = DialogDriver::ItemText(window, kStatusId);
            seen.upgradeText = DialogDriver::ItemText(window, kUpgradeId);
            seen.closeText = DialogDriver::ItemText(window, IDCANCEL);
            seen.upgradeEnabled = DialogDriver::ItemEnabled(window, kUpgradeId);
            seen.closeEnabled = DialogDriver::ItemEnabled(window, IDCANCEL);
            const size_t index = Count();
            Respond(window, index < answers_.size() ? answers_[index] : Answer::Close);
            while (!stop_ && !DialogDriver::WaitForClose(window, 100)) {
            }
            seen.shownMs = ::GetTickCount() - shownAt;
            std::lock_guard<std::mutex> lock(mutex_);
            windows_.push_back(seen);
        }
    }

    static void Respond(HWND window, Answer answer) {
        switch (answer) {
            case Answer::Close: DialogDriver::Click(window, IDCANCEL); break;
            case Answer::Upgrade: DialogDriver::Click(window, kUpgradeId); break;
            case Answer::Escape: DialogDriver::PressEscape(window); break;
            case Answer::CloseBox: DialogDriver::PressCloseBox(window); break;
            case Answer::WaitUntilItCloses: break;
        }
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return windows_.size();
    }

    const DWORD processId_;
    const std::vector<Answer> answers_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenWindow> windows_;
    std::thread thread_;
};

}  // namespace testsupport

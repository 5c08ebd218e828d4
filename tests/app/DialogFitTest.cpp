// Every window of the tool in every language at 96, 144 and 192 DPI: each
// text fits its control, each control the window, and the banner and the
// band span the width (app_fit_child does the looking). Wine reads the DPI
// from the user's LogPixels once per process, so each DPI is one run of the
// child with the value set for it. The screenshots stay in the build tree,
// in fit-screenshots beside this program, for a person to look at.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

namespace {

const wchar_t kDesktop[] = L"Control Panel\\Desktop";
const wchar_t kLogPixels[] = L"LogPixels";
constexpr DWORD kChildTimeoutMs = 150000;
// 29 languages, six windows each.
constexpr int kShotsPerDpi = 29 * 6;

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program = path;
    return program.substr(0, program.find_last_of(L'\\'));
}

// The user's DPI setting for the life of the object; the old one, or none, afterwards.
class LogPixelsSetting {
public:
    explicit LogPixelsSetting(DWORD dpi) {
        DWORD size = sizeof(saved_);
        hadValue_ = ::RegGetValueW(HKEY_CURRENT_USER, kDesktop, kLogPixels, RRF_RT_REG_DWORD, nullptr, &saved_,
                                   &size) == ERROR_SUCCESS;
        set_ = ::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, kLogPixels, REG_DWORD, &dpi, sizeof(dpi)) ==
               ERROR_SUCCESS;
    }
    ~LogPixelsSetting() {
        if (hadValue_) {
            ::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, kLogPixels, REG_DWORD, &saved_, sizeof(saved_));
        } else {
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, kLogPixels);
        }
    }
    bool set() const { return set_; }

private:
    DWORD saved_ = 0;
    bool hadValue_ = false;
    bool set_ = false;
};

DWORD RunChild(const std::wstring& folder, DWORD dpi, const std::wstring& shots) {
    std::wstring commandLine = L"\"" + folder + L"\\app_fit_child.exe\" " + std::to_wstring(dpi) + L" \"" + shots + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return ::GetLastError() | 0x80000000u;
    kv::unique_handle thread(process.hThread);
    kv::unique_handle child(process.hProcess);
    if (::WaitForSingleObject(child.get(), kChildTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(child.get(), 1);
        return WAIT_TIMEOUT | 0x80000000u;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(child.get(), &code);
    return code;
}

int CountShots(const std::wstring& shots, DWORD dpi) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = shots + L"\\*-" + std::to_wstring(dpi) + L".bmp";
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (found.nFileSizeLow > 0) ++count;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return count;
}

TEST(DialogFit, EveryWindowInEveryLanguageFitsAt96_144And192Dpi) {
    const std::wstring folder = ProgramFolder();
    const std::wstring shots = folder + L"\\fit-screenshots";
    ::CreateDirectoryW(shots.c_str(), nullptr);
    for (const DWORD dpi : {96u, 144u, 192u}) {
        LogPixelsSetting setting(dpi);
        ASSERT_TRUE(setting.set());
        // The child lists each window that failed, and why, above.
        EXPECT_EQ(0u, RunChild(folder, dpi, shots)) << "at " << dpi << " DPI";
        EXPECT_EQ(kShotsPerDpi, CountShots(shots, dpi)) << "at " << dpi << " DPI";
    }
}

}  // namespace

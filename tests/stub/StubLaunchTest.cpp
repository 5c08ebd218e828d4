// The download target's name, the launch of the installer, and what the
// download's callback hands back.
#include <gtest/gtest.h>

#include <string>

#include "app/PleaseWaitWaiter.h"
#include "app/UpgradeDialog.h"
#include "common/UniqueHandle.h"
#include "stub/InstallerFile.h"
#include "stub/StubInstaller.h"
#include "tests/support/StubFixtures.h"
#include "tests/stub/StubTestLog.h"

using testsupport::LogCapture;

namespace {

class StubLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ConfigureStubTestLog(L"stub_launch_tests"); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StubLogEnvironment);

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::wstring TempFolderPath() {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    return folder;
}

TEST(StubTarget, TwoRunsGiveTwoStartableNamesAndLeaveTheirFiles) {
    std::wstring first, second;
    ASSERT_TRUE(MakeStubTargetName(first));
    ASSERT_TRUE(MakeStubTargetName(second));
    EXPECT_NE(first, second);
    for (const std::wstring& target : {first, second}) {
        EXPECT_TRUE(EndsWith(target, L".tmp.exe")) << std::string(target.begin(), target.end());
        const std::wstring folder = TempFolderPath();
        EXPECT_EQ(target.compare(0, folder.size() + 3, folder + L"kvc"), 0);
        // The empty placeholder that keeps the name taken stays on disk.
        const std::wstring placeholder = target.substr(0, target.size() - 4);
        EXPECT_NE(::GetFileAttributesW(placeholder.c_str()), INVALID_FILE_ATTRIBUTES);
        ::DeleteFileW(placeholder.c_str());
    }
}

// Runs the stand-in installer with its marker in a file of the test's own.
class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeStubTargetName(marker_));
        marker_ += L".ran";
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", marker_.c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", nullptr);
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_HOLD", nullptr);
        ::DeleteFileW(marker_.c_str());
        ::DeleteFileW(marker_.substr(0, marker_.size() - 8).c_str());
    }
    bool WaitForMarker(DWORD timeoutMs) { return testsupport::WaitForFile(marker_, timeoutMs); }
    std::wstring marker_;
};

struct RunStubCall {
    std::wstring path;
    bool result = false;
};

DWORD WINAPI CallRunStub(void* parameter) {
    RunStubCall* call = static_cast<RunStubCall*>(parameter);
    call->result = RunStub(call->path.c_str());
    return 0;
}

TEST_F(Launch, StartsTheInstallerAndDoesNotWaitForIt) {
    // The installer holds on until the event is set, which happens only after
    // RunStub has returned: a RunStub that waited would never return here.
    wchar_t eventName[64];
    _snwprintf(eventName, 64, L"kv-stub-test-hold-%lu", ::GetCurrentProcessId());
    kv::unique_handle hold(::CreateEventW(nullptr, TRUE, FALSE, eventName));
    ASSERT_TRUE(hold);
    ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_HOLD", eventName);

    LogCapture log;
    RunStubCall call;
    call.path = FixturePath(L"unsigned.exe");
    kv::unique_handle thread(::CreateThread(nullptr, 0, CallRunStub, &call, 0, nullptr));
    ASSERT_TRUE(thread);
    const DWORD returned = ::WaitForSingleObject(thread.get(), 20000);
    ::SetEvent(hold.get());
    ASSERT_EQ(returned, WAIT_OBJECT_0) << "RunStub waited for the installer";
    ::WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_TRUE(call.result);
    EXPECT_TRUE(WaitForMarker(20000)) << "the installer did not run";
    EXPECT_TRUE(log.contains(L"RunStub: Stub launched successfully"));
}

TEST_F(Launch, MissingFileIsAFailure) {
    LogCapture log;
    const std::wstring missing = marker_ + L".missing.exe";
    EXPECT_FALSE(RunStub(missing.c_str()));
    EXPECT_TRUE(log.contains(L"RunStub: CreateProcess failed: 2"));
}

// Runs a command line in another process and waits for it to end.
void RunElsewhere(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup, &process));
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(Launch, PlantedFileUnderTheTargetNameIsLeftAloneNeverStartedAndAFreshNameTaken) {
    std::wstring planted;
    ASSERT_TRUE(MakeStubTargetName(planted));
    const std::string plantedBytes = testsupport::ReadBytes(FixturePath(L"kvantor-signed.exe"));
    ASSERT_FALSE(plantedBytes.empty());
    ASSERT_TRUE(testsupport::WriteBytes(planted, plantedBytes));
    bool first = true;
    InstallerFile installer;
    ASSERT_TRUE(installer.Create(nullptr, [&](std::wstring& name) {
        if (!first) return MakeStubTargetName(name);
        first = false;
        name = planted;
        return true;
    }));
    EXPECT_NE(installer.path(), planted);
    EXPECT_TRUE(installer.Hold());
    EXPECT_EQ(testsupport::ReadBytes(installer.path()), "");
    wchar_t errorText[kSignatureErrorChars] = {};
    EXPECT_FALSE(installer.Verify(errorText));
    EXPECT_FALSE(installer.Run()) << "our empty file cannot start";
    EXPECT_EQ(testsupport::ReadBytes(planted), plantedBytes);
    EXPECT_FALSE(testsupport::Exists(marker_)) << "the planted installer was started";
    ::DeleteFileW(planted.c_str());
}

TEST_F(Launch, HeldInstallerCannotBeChangedRenamedOrDeletedBetweenCheckAndStart) {
    const std::string signedBytes = testsupport::ReadBytes(FixturePath(L"kvantor-signed.exe"));
    ASSERT_FALSE(signedBytes.empty());
    InstallerFile installer;
    ASSERT_TRUE(installer.Create(nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(installer.writeHandle(), signedBytes.data(), static_cast<DWORD>(signedBytes.size()),
                            &written, nullptr));
    ASSERT_TRUE(installer.Hold());
    wchar_t errorText[kSignatureErrorChars] = {};
    ASSERT_TRUE(installer.Verify(errorText)) << std::string(errorText, errorText + wcslen(errorText));

    const std::wstring path = installer.path();
    RunElsewhere(L"cmd.exe /c echo x>>\"" + path + L"\"");
    RunElsewhere(L"cmd.exe /c move /y \"" + path + L"\" \"" + path + L".moved\"");
    RunElsewhere(L"cmd.exe /c del /f /q \"" + path + L"\"");
    EXPECT_EQ(testsupport::ReadBytes(path), signedBytes);
    EXPECT_FALSE(testsupport::Exists(path + L".moved"));

    EXPECT_TRUE(installer.Run());
    EXPECT_TRUE(WaitForMarker(20000)) << "the installer did not run";
}

TEST(DownloadCallback, ProgressTouchesNeitherResultNorFlagNorEvent) {
    UpgradeDialog dialog;
    PleaseWaitWaiter waiter(dialog);
    StubDownloadContext context;
    context.waiter = &waiter;
    context.event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    LogCapture log;
    DlCallback(&context, 0, 4096, 1000000);
    EXPECT_EQ(context.result, 0);
    EXPECT_FALSE(dialog.m_stopSignalled);
    EXPECT_EQ(::WaitForSingleObject(context.event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(log.contains(L"DlCallback: Download progress 4096/1000000"));
}

TEST(DownloadCallback, EndStoresTheResultStopsTheDialogAndSetsTheEvent) {
    UpgradeDialog dialog;
    PleaseWaitWaiter waiter(dialog);
    StubDownloadContext context;
    context.waiter = &waiter;
    context.event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    LogCapture log;
    DlCallback(&context, 1, 6, 0);
    EXPECT_EQ(context.result, 6);
    EXPECT_TRUE(dialog.m_stopSignalled);
    EXPECT_EQ(::WaitForSingleObject(context.event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(log.contains(L"DlCallback: Download finished"));
}

}  // namespace

// The application object in this process: the framework stand-in, the lang
// option of the command line, and the road choice for what Wine cannot show
// for real (a user who is not an administrator).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/Chg2013_dc_upgrade_forcerApp.h"
#include "app/ExitCode.h"
#include "product/NX_Helpers.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/WindowWatcher.h"

using testsupport::Contains;

namespace {

struct LanguageCase {
    const wchar_t* line;
    const wchar_t* language;
    RunMode mode = RunMode::Interactive;
    bool help = false;
    bool check = false;
};

TEST(LanguageOption, TakenOnlyFromAWellFormedCommandLine) {
    const LanguageCase cases[] = {
        {L"\"C:\\Program Files\\upgrade_tool.exe\" --lang fi", L"fi"},
        {L"upgrade_tool.exe -l fi", L"fi"},
        {L"upgrade_tool.exe -l FI", L"FI"},
        {L"upgrade_tool.exe --lang \"zh-TW\"", L"zh-TW"},
        {L"upgrade_tool.exe", L""},
        {L"upgrade_tool.exe word", L""},
        {L"upgrade_tool.exe word --lang fi", L""},
        // A malformed line counts for nothing, a valid option beside it included.
        {L"upgrade_tool.exe --lang fi --bogus", L""},
        {L"upgrade_tool.exe --lang fi -l de", L""},
        {L"upgrade_tool.exe --lang fi \"open", L""},
        {L"upgrade_tool.exe --lang", L""},
        {L"C:\\Program Files\\upgrade_tool.exe --lang fi", L""},
        // Quiet, passive and help hold wherever they stand, on a malformed line too; quiet wins.
        {L"upgrade_tool.exe --passive /Quiet", L"", RunMode::Quiet},
        {L"upgrade_tool.exe --quiet --bogus", L"", RunMode::Quiet},
        {L"upgrade_tool.exe --bogus --lang fi -q", L"", RunMode::Quiet},
        {L"upgrade_tool.exe --lang \"fi /PASSIVE", L"", RunMode::Passive},
        {L"upgrade_tool.exe word --passive", L"", RunMode::Passive},
        {L"upgrade_tool.exe /? -l ja", L"ja", RunMode::Interactive, true},
        {L"upgrade_tool.exe -x --help", L"", RunMode::Interactive, true},
        // Quotes do not hide a Windows form: it is the element, not the value.
        {L"upgrade_tool.exe --lang \"/quiet\"", L"", RunMode::Quiet},
        {L"\"C:\\a /quiet\\upgrade_tool.exe\" \"open", L""},
        {L"upgrade_tool.exe --quietly /passive2", L""},
        // A check holds on a malformed line too: a detection rule with a typo must not install.
        {L"upgrade_tool.exe --check --bogus", L"", RunMode::Interactive, false, true},
        {L"upgrade_tool.exe /Check /? -l de", L"de", RunMode::Interactive, true, true},
    };
    for (const LanguageCase& c : cases) {
        const RunOptions options = RunOptions::Read(c.line);
        EXPECT_EQ(c.language, options.language) << c.line;
        EXPECT_EQ(c.mode, options.mode) << c.line;
        EXPECT_EQ(c.help, options.help) << c.line;
        EXPECT_EQ(c.check, options.check) << c.line;
    }
}

class ScriptedApp : public CWinApp {
public:
    BOOL InitInstance() override {
        sawInstance = m_hInstance;
        SetExitCode(1618);
        return FALSE;
    }
    HINSTANCE sawInstance = nullptr;
};

TEST(WinApp, EntryPointRunsInitInstanceAndEndsWithItsExitCode) {
    ScriptedApp app;
    EXPECT_EQ(&app, AfxGetApp());
    const HINSTANCE self = ::GetModuleHandleW(nullptr);
    EXPECT_EQ(1618, AfxWinMain(self, SW_SHOWNORMAL));
    EXPECT_EQ(self, app.sawInstance);
    EXPECT_EQ(self, AfxGetResourceHandle());
}

TEST(WinApp, NoApplicationObjectIsAnError) {
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_NE(0, AfxWinMain(::GetModuleHandleW(nullptr), SW_SHOWNORMAL));
}

class FixedMembership : public MembershipOperations {
public:
    explicit FixedMembership(BOOL member) : member_(member) {}
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, PSID* sid) override {
        *sid = &sid_;
        return TRUE;
    }
    BOOL CheckTokenMembership(HANDLE, PSID, PBOOL isMember) override {
        ++checks;
        *isMember = member_;
        return TRUE;
    }
    void FreeSid(PSID) override {}
    int checks = 0;

private:
    BOOL member_;
    int sid_ = 0;
};

// A window station that answers UOI_FLAGS with the given flags, or fails.
class FixedStation : public WindowStationOperations {
public:
    FixedStation(bool answers, DWORD flags) : answers_(answers), flags_(flags) {}
    HWINSTA GetProcessWindowStation() override { return ::GetProcessWindowStation(); }
    BOOL GetUserObjectInformationW(HANDLE, int index, PVOID info, DWORD length, LPDWORD) override {
        if (!answers_ || index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        static_cast<USEROBJECTFLAGS*>(info)->dwFlags = flags_;
        return TRUE;
    }

private:
    bool answers_;
    DWORD flags_;
};

class ApplicationRoads : public ::testing::Test {
protected:
    void SetUp() override { testsupport::RemoveProductState(); }
    void TearDown() override { testsupport::RemoveProductState(); }
};

TEST_F(ApplicationRoads, UpgradeableProductForAUserWhoIsNotAdministratorEndsInTheFailureWindow) {
    testsupport::SeedProduct(L"1.60.0", true, L"2_1");
    FixedMembership notAdministrator(FALSE);
    Chg2013_dc_upgrade_forcerApp app(notAdministrator);
    const testsupport::LogMark mark(L"OvSA", L"dc_upgrade_tool");
    testsupport::WindowWatcher person(::GetCurrentProcessId(), {});

    EXPECT_FALSE(app.InitInstance());
    person.Stop();
    const auto windows = person.Windows();
    ASSERT_EQ(1u, windows.size());
    EXPECT_EQ(L"K-Vantor Scanguard", windows[0].caption);
    EXPECT_FALSE(windows[0].upgradeEnabled);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_EQ(ExitCode::Failure, app.ExitInstance());
    EXPECT_EQ(1, notAdministrator.checks);
    EXPECT_TRUE(app.m_isScanguard);
    EXPECT_EQ(L"K-Vantor HG upgrade tool", app.RegistryKey());
    const std::wstring log = mark.NewText();
    EXPECT_TRUE(Contains(log, L"Chg2013_dc_upgrade_forcerApp::InitInstance: User is not administrator")) << log;
    EXPECT_TRUE(Contains(log, L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow: ")) << log;
    EXPECT_FALSE(Contains(log, L"ShowUpgradeAvailableWindow")) << log;
}

TEST_F(ApplicationRoads, AdministratorGetsTheOfferAndOnlyUpgradeableProductsAskForMembership) {
    testsupport::SeedProduct(L"1.60.0", true, L"7_1");
    FixedMembership administrator(TRUE);
    Chg2013_dc_upgrade_forcerApp app(administrator);
    testsupport::WindowWatcher person(::GetCurrentProcessId(), {});
    EXPECT_FALSE(app.InitInstance());
    person.Stop();
    ASSERT_EQ(1u, person.Windows().size());
    EXPECT_TRUE(person.Windows()[0].upgradeEnabled);
    EXPECT_EQ(ExitCode::UserClosedOffer, app.ExitInstance());
    EXPECT_EQ(1, administrator.checks);
    EXPECT_FALSE(app.m_isScanguard);

    testsupport::RemoveProductState();
    testsupport::SeedProduct(L"1.71.0", true);
    FixedMembership untouched(FALSE);
    Chg2013_dc_upgrade_forcerApp upToDate(untouched);
    testsupport::WindowWatcher nextPerson(::GetCurrentProcessId(), {});
    EXPECT_FALSE(upToDate.InitInstance());
    nextPerson.Stop();
    EXPECT_EQ(1u, nextPerson.Windows().size());
    EXPECT_EQ(ExitCode::Success, upToDate.ExitInstance());
    EXPECT_EQ(0, untouched.checks);
}

TEST_F(ApplicationRoads, AStationNobodySeesMakesTheRunQuietAndOnlyThat) {
    struct Case {
        const wchar_t* version;
        BOOL administrator;
        bool stationAnswers;
        DWORD flags;
        size_t windows;
        int exitCode;
    };
    const Case cases[] = {
        {L"1.71.0", TRUE, true, 0, 0, ExitCode::Success},
        {L"1.60.0", FALSE, true, 0, 0, ExitCode::Failure},
        {L"1.71.0", TRUE, true, WSF_VISIBLE, 1, ExitCode::Success},
        // A station that cannot be asked leaves the run as it was asked for.
        {L"1.71.0", TRUE, false, 0, 1, ExitCode::Success},
    };
    for (const Case& c : cases) {
        testsupport::RemoveProductState();
        testsupport::SeedProduct(c.version, true);
        FixedMembership membership(c.administrator);
        FixedStation station(c.stationAnswers, c.flags);
        Chg2013_dc_upgrade_forcerApp app(membership, station);
        const testsupport::LogMark mark(L"OvSA", L"dc_upgrade_tool");
        testsupport::WindowWatcher person(::GetCurrentProcessId(), {});
        EXPECT_FALSE(app.InitInstance());
        person.Stop();
        const std::wstring log = mark.NewText();
        EXPECT_EQ(c.windows, person.Windows().size()) << log;
        EXPECT_EQ(c.exitCode, app.ExitInstance()) << log;
        EXPECT_EQ(c.windows == 0, Contains(log, L"The window station is not visible")) << log;
        EXPECT_EQ(c.windows == 0 ? RunMode::Quiet : RunMode::Interactive, app.m_mode);
    }
}

class RecordingEvents : public EventLogOperations {
public:
    bool RegisterSource() override { return true; }
    bool Report(const RunEventRecord& event) override {
        events.push_back(event);
        return true;
    }
    std::vector<RunEventRecord> events;
};

// The event at the end of a run names the road, the result, the exit code and the log.
TEST_F(ApplicationRoads, EveryRunEndsWithOneEventThatNamesItsOutcome) {
    testsupport::SeedProduct(L"1.60.0", true);
    FixedMembership notAdministrator(FALSE);
    FixedStation nobodySees(true, 0);
    RecordingEvents recorded;
    Chg2013_dc_upgrade_forcerApp app(notAdministrator, nobodySees, recorded);
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(1u, recorded.events.size());
    const RunEventRecord& event = recorded.events[0];
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, event.type);
    EXPECT_EQ(402u, event.id);
    for (const wchar_t* part : {L"Road: upgrade in place\r\n", L"Result: failed", L"Exit code: 1603\r\n",
                                L"\\K-Vantor\\logs\\OvSA\\dc_upgrade_tool.log"}) {
        EXPECT_TRUE(Contains(event.text, part)) << event.text;
    }
    // One id per outcome, the road's number added.
    struct Case { Road::Kind road; bool checkOnly; int exitCode; WORD type; DWORD id; };
    const Case cases[] = {
        {Road::UpToDate, false, 0, EVENTLOG_INFORMATION_TYPE, 101},
        {Road::FreshInstall, false, 3010, EVENTLOG_WARNING_TYPE, 113},
        {Road::None, false, 1618, EVENTLOG_WARNING_TYPE, 310},
        {Road::FreshInstall, false, 5, EVENTLOG_ERROR_TYPE, 493},
        {Road::UpgradeInPlace, true, 1, EVENTLOG_INFORMATION_TYPE, 202},
    };
    for (const Case& c : cases) {
        RunSummary run;
        run.road = c.road;
        run.checkOnly = c.checkOnly;
        run.exitCode = c.exitCode;
        const RunEventRecord described = RunEvent::Describe(run);
        EXPECT_EQ(c.type, described.type) << c.id;
        EXPECT_EQ(c.id, described.id);
        EXPECT_TRUE(Contains(described.text, L"Exit code: " + std::to_wstring(c.exitCode))) << described.text;
    }
}

TEST_F(ApplicationRoads, TheMutexIsFreeForTheNextCopyWhenTheRunEnds) {
    testsupport::SeedProduct(L"1.71.0", true);
    FixedMembership administrator(TRUE);
    Chg2013_dc_upgrade_forcerApp app(administrator);
    testsupport::WindowWatcher person(::GetCurrentProcessId(), {});
    EXPECT_FALSE(app.InitInstance());
    person.Stop();
    bool nextCopyAcquired = false;
    std::thread nextCopy([&] {
        nextCopyAcquired = static_cast<bool>(NX_Helpers::AllocateSingleInstanceMutex());
    });
    nextCopy.join();
    EXPECT_TRUE(nextCopyAcquired);
}

TEST_F(ApplicationRoads, SecondCopyEndsAtOnceWithItsOwnExitCode) {
    kv::unique_handle firstCopy(::CreateMutexW(nullptr, FALSE, NX_Helpers::kSingleInstanceMutexName));
    HANDLE mutex = firstCopy.get();
    kv::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    kv::unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The first copy holds the mutex on a thread of its own.
    std::thread holder([&] {
        ::WaitForSingleObject(mutex, INFINITE);
        ::SetEvent(held.get());
        ::WaitForSingleObject(done.get(), INFINITE);
        ::ReleaseMutex(mutex);
    });
    ::WaitForSingleObject(held.get(), INFINITE);

    testsupport::SeedProduct(L"1.71.0", true);
    FixedMembership administrator(TRUE);
    Chg2013_dc_upgrade_forcerApp app(administrator);
    const testsupport::LogMark mark(L"OvSA", L"dc_upgrade_tool");
    testsupport::WindowWatcher person(::GetCurrentProcessId(), {});
    EXPECT_FALSE(app.InitInstance());
    person.Stop();
    EXPECT_TRUE(person.Windows().empty());
    EXPECT_EQ(ExitCode::AnotherCopyRunning, app.ExitInstance());
    const std::wstring log = mark.NewText();
    EXPECT_TRUE(Contains(log, L"Another copy of this app already running! Exiting...")) << log;
    EXPECT_FALSE(Contains(log, L"ShowNXIsUpToDateWindow")) << log;

    ::SetEvent(done.get());
    holder.join();
}

}  // namespace

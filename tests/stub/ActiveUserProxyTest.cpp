// The search for the active user's session against a session table of the
// test's own, and that user's proxy read from real keys below HKEY_USERS.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "download/QmtDownloadInstance.h"
#include "stub/ActiveUserProxy.h"
#include "stub/MachinePolicy.h"
#include "tests/stub/FakeSessions.h"
#include "tests/stub/StubTestLog.h"

using testsupport::LogCapture;

namespace {

const wchar_t kAliceSid[] = L"S-1-5-21-1111111111-2222222222-3333333333-1001";
const wchar_t kBobSid[] = L"S-1-5-21-1111111111-2222222222-3333333333-1002";
const wchar_t kCarolSid[] = L"S-1-5-21-1111111111-2222222222-3333333333-1003";

class StubLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ConfigureStubTestLog(L"stub_proxy_tests"); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StubLogEnvironment);

// Sessions 1 (alice), 2 (bob) and 3 (carol), each user known by
// "CORP\name" as an account.
FakeSessions ThreeUsers() {
    FakeSessions fake;
    fake.users[1] = {L"alice", L"CORP"};
    fake.users[2] = {L"bob", L"CORP"};
    fake.users[3] = {L"carol", L"CORP"};
    fake.accounts[L"CORP\\alice"] = kAliceSid;
    fake.accounts[L"CORP\\bob"] = kBobSid;
    fake.accounts[L"CORP\\carol"] = kCarolSid;
    return fake;
}

struct SessionCase {
    const char* name;
    std::vector<FakeSession> sessions;
    std::wstring expectedSid;
    std::vector<DWORD> expectedQueries;  // sessions whose user was asked for
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

class SessionChoice : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionChoice, TakesTheFirstActiveInteractiveSessionThatYieldsASid) {
    const SessionCase& c = GetParam();
    FakeSessions fake = ThreeUsers();
    fake.users[4] = {L"", L"CORP"};       // an active session with nobody logged on
    fake.users[5] = {L"ghost", L"CORP"};  // a user no account lookup knows
    fake.users[0] = {L"SYSTEM", L"NT AUTHORITY"};
    fake.accounts[L"NT AUTHORITY\\SYSTEM"] = L"S-1-5-18";
    fake.sessions = c.sessions;

    EXPECT_EQ(FindLoggedInUserSessionSID(fake), c.expectedSid);
    EXPECT_EQ(fake.queriedSessions, c.expectedQueries);
    EXPECT_EQ(fake.outstanding, 0) << "session memory not given back";
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionChoice,
    ::testing::Values(
        SessionCase{"OnlyTheConsoleActive",
                    {{0, L"Services", WTSDisconnected}, {1, L"Console", WTSActive}, {65536, L"RDP-Tcp", WTSListen}},
                    kAliceSid,
                    {1}},
        SessionCase{"ServicesSkippedWhenActive", {{0, L"Services", WTSActive}, {1, L"Console", WTSActive}}, kAliceSid, {1}},
        SessionCase{"ServicesSkippedWhateverTheCase", {{0, L"SERVICES", WTSActive}}, L"", {}},
        SessionCase{"DisconnectedAndListeningSkipped",
                    {{1, L"Console", WTSDisconnected}, {65536, L"RDP-Tcp", WTSListen}, {2, L"RDP-Tcp#3", WTSIdle}},
                    L"",
                    {}},
        SessionCase{"TwoActiveTheFirstWins",
                    {{0, L"Services", WTSDisconnected}, {2, L"RDP-Tcp#1", WTSActive}, {1, L"Console", WTSActive}},
                    kBobSid,
                    {2}},
        SessionCase{"ActiveWithoutUserPassedOver",
                    {{4, L"Console", WTSActive}, {3, L"RDP-Tcp#2", WTSActive}},
                    kCarolSid,
                    {4, 3}},
        SessionCase{"UnknownAccountPassedOver",
                    {{5, L"Console", WTSActive}, {2, L"RDP-Tcp#2", WTSActive}, {3, L"RDP-Tcp#4", WTSActive}},
                    kBobSid,
                    {5, 2}},
        SessionCase{"UnnamedStationStillTaken", {{3, nullptr, WTSActive}}, kCarolSid, {3}},
        SessionCase{"NoSessionsAtAll", {}, L"", {}}),
    [](const ::testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

TEST(SessionSearch, LogsEachSessionUnderVerifySessionIsActive) {
    FakeSessions fake = ThreeUsers();
    fake.sessions = {{0, L"Services", WTSActive}, {7, L"Console", WTSDisconnected}, {2, L"RDP-Tcp#1", WTSActive}};
    LogCapture log;
    ASSERT_EQ(FindLoggedInUserSessionSID(fake), kBobSid);
    EXPECT_TRUE(log.contains(L"FindLoggedInUserSessionSID: WTSEnumerateSessions() returned 3 sessions"));
    EXPECT_TRUE(log.contains(L"VerifySessionIsActive: Session 0 state is 0"));
    EXPECT_TRUE(log.contains(L"VerifySessionIsActive: Session 0 is the isolated System session"));
    EXPECT_TRUE(log.contains(L"VerifySessionIsActive: Session 7 state is 4"));
    EXPECT_TRUE(log.contains(L"VerifySessionIsActive: Found active session 2"));
    EXPECT_FALSE(log.contains(L"Found active session 0"));
    EXPECT_TRUE(log.contains(std::wstring(L"FindLoggedInUserSessionSID: Active user sid ") + kBobSid));
}

TEST(SessionSearch, FailedEnumerationGivesNoSid) {
    FakeSessions fake = ThreeUsers();
    fake.enumerationFails = true;
    LogCapture log;
    EXPECT_EQ(FindLoggedInUserSessionSID(fake), L"");
    EXPECT_TRUE(log.contains(L"FindLoggedInUserSessionSID: Failed to enumerate sessions with error 5"));
}

TEST(SessionUser, FullNameIsDomainBackslashUser) {
    FakeSessions fake = ThreeUsers();
    LogCapture log;
    EXPECT_EQ(ReadFullUserNameFromWTS(fake, 2), L"CORP\\bob");
    EXPECT_TRUE(log.contains(L"ReadFullUserNameFromWTS: Session full user name: CORP\\bob"));
    EXPECT_EQ(fake.outstanding, 0);
}

TEST(SessionUser, UserWithoutDomainStillYieldsASid) {
    for (const bool domainFails : {true, false}) {
        FakeSessions fake;
        fake.users[6] = {L"dave", domainFails ? L"IGNORED" : L"", false, domainFails};
        fake.accounts[L"dave"] = kAliceSid;
        LogCapture log;
        EXPECT_EQ(FindUserSessionSID(fake, 6), kAliceSid) << "domain query fails: " << domainFails;
        EXPECT_EQ(fake.lookedUp, std::vector<std::wstring>{L"dave"});
        EXPECT_TRUE(log.contains(L"ReadFullUserNameFromWTS: Cannot get domain name. WTSQuerySessionInformation(6, "
                                 L"WTSDomainName)."));
        EXPECT_TRUE(log.contains(L"Return only user name"));
        EXPECT_TRUE(log.contains(std::wstring(L"FindUserSessionSID: SID converted to ") + kAliceSid));
        EXPECT_EQ(fake.outstanding, 0);
    }
}

TEST(SessionUser, FailedUserQueryGivesNothing) {
    FakeSessions fake = ThreeUsers();
    fake.users[2].userQueryFails = true;
    LogCapture log;
    EXPECT_EQ(FindUserSessionSID(fake, 2), L"");
    EXPECT_TRUE(fake.lookedUp.empty());
    EXPECT_TRUE(log.contains(L"ReadFullUserNameFromWTS: Failed to WTSQuerySessionInformation(2, WTSUserName). LE=0x5"));
}

TEST(SessionUser, EmptyUserIsIgnored) {
    FakeSessions fake;
    fake.users[9] = {L"", L"CORP"};
    LogCapture log;
    EXPECT_EQ(FindUserSessionSID(fake, 9), L"");
    EXPECT_TRUE(fake.lookedUp.empty());
    EXPECT_TRUE(log.contains(L"ReadFullUserNameFromWTS: There is no logged on user in session 9. Ignoring session."));
    EXPECT_EQ(fake.outstanding, 0);
}

TEST(SessionUser, UnknownAccountGivesNothing) {
    FakeSessions fake;
    fake.users[5] = {L"ghost", L"CORP"};
    LogCapture log;
    EXPECT_EQ(FindUserSessionSID(fake, 5), L"");
    EXPECT_TRUE(log.contains(L"FindUserSessionSID: LookupAccountName failed for user CORP\\ghost with LE=1332"));
}

// The user's Internet Settings key below HKEY_USERS, made for one test and
// removed with the whole SID key afterwards.
class UserProxySettings : public ::testing::Test {
protected:
    void SetUp() override {
        QmtDownload::SetDownloadProxy(nullptr);
        fake_ = ThreeUsers();
        fake_.sessions = {{0, L"Services", WTSDisconnected}, {1, L"Console", WTSActive}};
        RemoveUserKey();
    }
    void TearDown() override {
        RemoveUserKey();
        QmtDownload::SetDownloadProxy(nullptr);
    }

    static std::wstring SettingsPath() { return std::wstring(kAliceSid) + kInternetSettingsSubkey; }

    HKEY Settings() {
        if (!settings_) {
            EXPECT_EQ(::RegCreateKeyExW(HKEY_USERS, SettingsPath().c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, settings_.put(), nullptr),
                      ERROR_SUCCESS);
        }
        return settings_.get();
    }
    void SetDword(const wchar_t* name, DWORD value) {
        ASSERT_EQ(::RegSetValueExW(Settings(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    void SetText(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
        ASSERT_EQ(::RegSetValueExW(Settings(), name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    static void RemoveUserKey() { ::RegDeleteTreeW(HKEY_USERS, kAliceSid); }

    bool ProxySet() { return QmtDownload::QmtDownloadInstance::Get().HasProxy(); }

    FakeSessions fake_;
    kv::unique_hkey settings_;
};

TEST_F(UserProxySettings, EnabledProxyIsHandedToTheDownloads) {
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", L"proxy.corp.example:3128");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_TRUE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Setting proxy 'proxy.corp.example:3128' for downloads"));
}

TEST_F(UserProxySettings, PerProtocolListIsPassedAsStored) {
    SetDword(L"ProxyEnable", 7);
    SetText(L"ProxyServer", L"http=10.1.1.1:80;https=10.1.1.2:443");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_TRUE(ProxySet());
    EXPECT_TRUE(log.contains(L"Setting proxy 'http=10.1.1.1:80;https=10.1.1.2:443' for downloads"));
}

TEST_F(UserProxySettings, DisabledProxyIsNotUsedAndTheLineNamesTheSid) {
    SetDword(L"ProxyEnable", 0);
    SetText(L"ProxyServer", L"proxy.corp.example:3128");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(std::wstring(L"UseProxyFromActiveUser: IE proxy was not enabled for user '") + kAliceSid +
                             L"'"));
}

TEST_F(UserProxySettings, EnabledWithEmptyServerSetsNoProxy) {
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", L"");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"IE proxy was not enabled for user"));
}

TEST_F(UserProxySettings, EnabledWithoutServerSetsNoProxy) {
    SetDword(L"ProxyEnable", 1);
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Failed to read value 'ProxyServer': 2"));
}

TEST_F(UserProxySettings, ExpandableServerTextIsRefused) {
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", L"%PROXYHOST%:8080", REG_EXPAND_SZ);
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Failed to read value 'ProxyServer': "));
    EXPECT_FALSE(log.contains(L"Setting proxy"));
}

TEST_F(UserProxySettings, ServerTextTooLongForItsBufferIsRefused) {
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", std::wstring(300, L'p') + L":80");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"Failed to read value 'ProxyServer': 234"));
}

TEST_F(UserProxySettings, ServerTextFillingTheBufferIsKeptWhole) {
    const std::wstring longest = std::wstring(253, L'q') + L":65535";  // 259 units
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", longest);
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_TRUE(ProxySet());
    EXPECT_TRUE(log.contains(L"Setting proxy '" + longest + L"' for downloads"));
}

TEST_F(UserProxySettings, MissingEnableValueCountsAsDisabled) {
    SetText(L"ProxyServer", L"proxy.corp.example:3128");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Failed to read value 'ProxyEnable': 2"));
}

TEST_F(UserProxySettings, EnableValueOfAnotherTypeCountsAsDisabled) {
    SetText(L"ProxyServer", L"proxy.corp.example:3128");
    SetText(L"ProxyEnable", L"0");
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Value 'ProxyEnable' has type 1 and 4 bytes, not a REG_DWORD"));
}

TEST_F(UserProxySettings, MissingUserKeySetsNoProxy) {
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: Failed to open 'HKU\\" + SettingsPath() + L"': 2"));
}

TEST_F(UserProxySettings, NoActiveUserSetsNoProxy) {
    SetDword(L"ProxyEnable", 1);
    SetText(L"ProxyServer", L"proxy.corp.example:3128");
    fake_.sessions = {{1, L"Console", WTSDisconnected}};
    LogCapture log;
    UseProxyFromActiveUser(fake_);
    EXPECT_FALSE(ProxySet());
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: No user SID - can't read proxy settings"));
}

TEST_F(UserProxySettings, TheSystemsOwnSessionsAreReadWithoutHarm) {
    // Wine lists no sessions; on Windows the test account's own session may
    // hold a proxy. Either way the real table is called and nothing is left set
    // that the settings do not ask for.
    LogCapture log;
    UseProxyFromActiveUser();
    EXPECT_TRUE(log.contains(L"UseProxyFromActiveUser: "));
    if (log.contains(L"No user SID")) {
        EXPECT_FALSE(ProxySet());
    }
}

// Policy wins over the command line, and the log says so when it overrides a given option.
TEST(MachinePolicy, PolicyOverridesTheOptionAndSaysSo) {
    ConfigureStubTestLog(L"stub_proxy_tests");
    struct Case {
        const wchar_t* policy;
        const wchar_t* option;
        const wchar_t* inEffect;
        bool overrideLogged;
    };
    const Case cases[] = {
        {L"\\\\srv\\share\\i.exe", L"C:\\here\\i.exe", L"\\\\srv\\share\\i.exe", true},
        {L"\\\\srv\\share\\i.exe", L"", L"\\\\srv\\share\\i.exe", false},
        {L"", L"C:\\here\\i.exe", L"C:\\here\\i.exe", false},
        {L"/S", L"/S", L"/S", false},
    };
    for (const Case& c : cases) {
        const testsupport::LogCapture log;
        EXPECT_EQ(c.inEffect, PolicyOverOption(L"InstallerSource", c.policy, L"--source", c.option));
        EXPECT_EQ(c.overrideLogged, log.contains(L"overrides the command line's --source"))
            << c.policy;
    }
}

}  // namespace

// Where the hosts file is looked for: the registry value, else the system
// root's folder.
#include <cstdlib>

#include "hosts/HostsPath.h"
#include "tests/hosts/HostsLocationFixture.h"

using testsupport::Exists;

namespace {

std::wstring SystemRoot() {
    wchar_t root[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    return root;
}

class HostsPathTest : public HostsLocationFixture {};

TEST_F(HostsPathTest, ExpandsEnvironmentReferencesOfTheRegistryValue) {
    SetString(L"%SystemRoot%\\System32\\drivers\\etc", REG_EXPAND_SZ);
    const HostsPath path;
    EXPECT_EQ(SystemRoot() + L"\\System32\\drivers\\etc", path.directory());
    EXPECT_EQ(SystemRoot() + L"\\System32\\drivers\\etc\\hosts", path.hostsFilePath());
    EXPECT_EQ(SystemRoot() + L"\\System32\\drivers\\etc\\hosts.bak", path.backupFilePath());
    EXPECT_TRUE(Exists(path.hostsFilePath()));
}

TEST_F(HostsPathTest, TakesAPlainStringAsItStands) {
    const HostsPath path;
    EXPECT_EQ(etc(), path.directory());
    EXPECT_EQ(hosts(), path.hostsFilePath());
}

TEST_F(HostsPathTest, ReadsAStringStoredWithoutItsTerminator) {
    const std::wstring text = etc();
    SetValue(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    EXPECT_EQ(etc(), HostsPath().directory());
}

TEST_F(HostsPathTest, FallsBackToTheSystemRootWithADoubledBackslash) {
    DeleteValue();
    const HostsPath path;
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", path.directory());
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\\\hosts", path.hostsFilePath());
    // Windows takes the doubled separator.
    EXPECT_TRUE(Exists(path.hostsFilePath()));
}

TEST_F(HostsPathTest, FallsBackOnAValueThatIsNotAPathString) {
    const DWORD number = 42;
    SetValue(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", HostsPath().directory());

    // Text stored as binary has no guaranteed end and is not taken either.
    const std::wstring text = etc();
    SetValue(REG_BINARY, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", HostsPath().directory());

    SetString(L"");
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", HostsPath().directory());
}

TEST_F(HostsPathTest, FallsBackWhenTheValueOrItsExpansionDoesNotFit260Units) {
    SetString(L"C:\\" + std::wstring(300, L'a'));
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", HostsPath().directory());

    ASSERT_TRUE(::SetEnvironmentVariableW(L"KV_HOSTS_LONG", std::wstring(200, L'b').c_str()));
    SetString(L"C:\\%KV_HOSTS_LONG%\\%KV_HOSTS_LONG%", REG_EXPAND_SZ);
    EXPECT_EQ(SystemRoot() + L"\\system32\\drivers\\etc\\", HostsPath().directory());

    const std::wstring exact = L"C:\\" + std::wstring(256, L'c');  // 259 units and the terminator
    SetString(exact);
    EXPECT_EQ(exact, HostsPath().directory());
}

TEST_F(HostsPathTest, NeitherSourceGivesAnEmptyFolder) {
    DeleteValue();
    const std::wstring root = SystemRoot();
    ASSERT_EQ(0, _wputenv(L"SystemRoot="));
    const HostsPath path;
    _wputenv((L"SystemRoot=" + root).c_str());
    EXPECT_EQ(L"", path.directory());
    EXPECT_EQ(L"\\hosts", path.hostsFilePath());
}

}  // namespace

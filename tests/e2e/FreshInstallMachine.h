#pragma once
// A machine for the fresh-install road: no product, a hosts file that names
// the maker, WinINet's preconfigured proxy pointing at the test server's proxy
// (which reaches its origin), and the stand-in installer told where to leave
// its mark. The previous hosts file and environment come back afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/StubFixtures.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TestServer.h"

namespace testsupport {

class FreshInstallMachine {
public:
    static constexpr const char* kInstallerPath = "/NX/Retail/installer/2/K-VantorNetworkInstaller.exe";

    FreshInstallMachine() {
        RemoveProductState();
        saved_ = ReadBytes(hosts_);
        ::DeleteFileW(backup_.c_str());
        EXPECT_TRUE(WriteBytes(hosts_, WithMakerLine()));
        DownloadTesting::TestServer::SetProxyMode("origin");
        const std::wstring proxy = L"http://" + DownloadTesting::TestServer::ProxyAddress();
        ::SetEnvironmentVariableW(L"http_proxy", proxy.c_str());
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        marker_ = std::wstring(temp) + L"kv_e2e_installer_" + std::to_wstring(::GetCurrentProcessId()) + L".ran";
        ::DeleteFileW(marker_.c_str());
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", marker_.c_str());
    }
    ~FreshInstallMachine() {
        ::SetEnvironmentVariableW(L"http_proxy", nullptr);
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", nullptr);
        WriteBytes(hosts_, saved_);
        ::DeleteFileW(backup_.c_str());
        ::DeleteFileW(marker_.c_str());
    }
    FreshInstallMachine(const FreshInstallMachine&) = delete;
    FreshInstallMachine& operator=(const FreshInstallMachine&) = delete;

    // The installer the server answers with: a signed fixture, and how the server behaves while sending it.
    static void Serve(const char* fixture, const std::string& behaviour = "") {
        DownloadTesting::TestServer::AddResource(std::string("{\"path\": \"") + kInstallerPath + "\", \"file\": \"" +
                                                 FixtureUnixPath(fixture) + "\"" +
                                                 (behaviour.empty() ? "" : ", " + behaviour) + "}");
    }

    void ExpectHostsRepaired() const {
        EXPECT_EQ(kOtherLines, ReadBytes(hosts_));
        EXPECT_EQ(WithMakerLine(), ReadBytes(backup_));
    }

    // Whether the installer left its mark within the time.
    bool InstallerRan(DWORD waitMs) const { return WaitForFile(marker_, waitMs); }
    // What the installer wrote into its mark (tools/test_installer), and forgetting it.
    std::string InstallerMarker() const { return ReadBytes(marker_); }
    void ForgetInstallerRun() const { ::DeleteFileW(marker_.c_str()); }

private:
    static constexpr const char* kOtherLines =
        "# Copyright (c) 1993-2009 Microsoft Corp.\r\n"
        "127.0.0.1       localhost\r\n"
        "::1             localhost\r\n"
        "10.0.0.5\tfileserver # k-vantor mirror in a comment stays\r\n";

    // The maker's line after the first of the others.
    static std::string WithMakerLine() {
        const std::string others = kOtherLines;
        const size_t second = others.find("\r\n") + 2;
        return others.substr(0, second) + "127.0.0.1 k-vantor-update\r\n" + others.substr(second);
    }

    static std::wstring SystemFolder(const wchar_t* below) {
        wchar_t windows[MAX_PATH] = {};
        ::GetWindowsDirectoryW(windows, MAX_PATH);
        return std::wstring(windows) + below;
    }

    const std::wstring hosts_ = SystemFolder(L"\\System32\\drivers\\etc\\hosts");
    const std::wstring backup_ = SystemFolder(L"\\System32\\drivers\\etc\\hosts.bak");
    std::string saved_;
    std::wstring marker_;
};

}  // namespace testsupport

// The real upgrade_tool.exe under a seeded registry, judged by its exit code
// and its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NX_Helpers.h"
#include "TestLog.h"
#include "TestRegistry.h"
#include "UniqueHandle.h"

using testsupport::Contains;
using testsupport::SeedProduct;
using testsupport::View;

namespace {

std::wstring ToolPath() {
    // The build gives a Unix path; Wine maps the Unix root to drive Z:.
    std::wstring path = L"Z:";
    for (const char* c = KV_UPGRADE_TOOL_PATH; *c; ++c) path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;
    std::wstring log;
};

ToolRun RunTool(const std::wstring& arguments = L"", DWORD timeoutMs = 30000) {
    const testsupport::LogMark mark(L"OvSA", L"dc_upgrade_tool");
    std::wstring commandLine = L"\"" + ToolPath() + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ToolRun run;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return run;
    }
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    if (::WaitForSingleObject(processHandle.get(), timeoutMs) == WAIT_OBJECT_0) {
        run.finished = true;
        ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
    } else {
        ::TerminateProcess(processHandle.get(), 1);
        ::WaitForSingleObject(processHandle.get(), 5000);
    }
    run.log = mark.NewText();
    return run;
}

class UpgradeTool : public ::testing::Test {
protected:
    void SetUp() override { testsupport::RemoveProductState(); }
    void TearDown() override { testsupport::RemoveProductState(); }
};

TEST_F(UpgradeTool, UpToDateProductEndsWithTheUpToDateWindowAndSuccess) {
    SeedProduct(L"1.71.0", true);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: NX is up to date already")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow: ")) << run.log;
    // The up-to-date test comes first: the upgradeable test never runs.
    EXPECT_FALSE(Contains(run.log, L"UpgradeableHGInstalledForRetailOperator")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowUpgradeAvailableWindow")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"LOG AUTO-CLOSED")) << run.log;
}

TEST_F(UpgradeTool, UpgradeableProductGetsTheOfferWhichEndsUnaccepted) {
    SeedProduct(L"1.57.0", true);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1602u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: NX is not up to date")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::UpgradeableHGInstalledForRetailOperator: Found correct version"))
        << run.log;
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow: ")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"User is not administrator")) << run.log;
}

TEST_F(UpgradeTool, TooOldProductTakesTheFreshInstallRoad) {
    SeedProduct(L"1.56.999", true);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Installed product is too old for this tool to work: 1.56.999. Need at least 1.57"))
        << run.log;
    EXPECT_TRUE(Contains(run.log, L"fresh install")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"Window: ")) << run.log;
}

TEST_F(UpgradeTool, MachineWithoutTheProductTakesTheFreshInstallRoad) {
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed. Returned error: 1")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"no installer was started")) << run.log;
}

TEST_F(UpgradeTool, UpToDateVersionWithoutTheRetailOperatorIsNotUpgradedInPlace) {
    SeedProduct(L"2.1.1", false);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: DC operator is not present")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowNXIsUpToDateWindow")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowUpgradeAvailableWindow")) << run.log;
}

TEST_F(UpgradeTool, ProductRegisteredOnlyInTheNativeViewIsNotSeen) {
    SeedProduct(L"1.71.0", true, L"2_1", View::Native64);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed")) << run.log;
}

TEST_F(UpgradeTool, MalformedRegistryValuesAreRefusedByType) {
    const wchar_t version[] = L"1.71.0";
    testsupport::SetRawValue(testsupport::QmtKey(), L"InstallerVersion", REG_EXPAND_SZ, version, sizeof(version));
    testsupport::SetString(testsupport::OperatorsKey(), L"666", L"1");
    testsupport::SetDword(testsupport::FamilyKey(), L"FamilyIDMapping", 2);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed. Returned error: 2")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Error: 2. Fallback to 4")) << run.log;
}

TEST_F(UpgradeTool, AppIdTwoIsTheScanguardFamilyAndAnyOtherIdHomeguard) {
    struct Case {
        const wchar_t* mapping;
        const wchar_t* family;
    };
    for (const Case& c : {Case{L"2_1234", L"Product family: Scanguard"}, Case{L"7_2", L"Product family: Homeguard"},
                          Case{L"20_1", L"Product family: Homeguard"}, Case{L"2", L"Product family: Homeguard"}}) {
        testsupport::RemoveProductState();
        SeedProduct(L"1.71.0", true, c.mapping);
        const ToolRun run = RunTool();
        ASSERT_TRUE(run.finished) << c.mapping;
        EXPECT_EQ(0u, run.exitCode) << c.mapping;
        EXPECT_TRUE(Contains(run.log, c.family)) << c.mapping << "\n" << run.log;
    }
}

TEST_F(UpgradeTool, SecondCopyEndsAtOnceWhileTheFirstHoldsTheMutex) {
    SeedProduct(L"1.71.0", true);
    kv::unique_handle firstCopy(::CreateMutexW(nullptr, TRUE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(firstCopy);
    const ToolRun run = RunTool(L"", 10000);
    ::ReleaseMutex(firstCopy.get());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1618u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::InitInstance: Another copy of this app already "
                                  L"running! Exiting..."))
        << run.log;
    EXPECT_FALSE(Contains(run.log, L"Installed version")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"Window: ")) << run.log;
}

TEST_F(UpgradeTool, MutexIsReleasedNotAbandonedWhenTheRunEnds) {
    SeedProduct(L"1.71.0", true);
    // Holding a handle keeps the mutex object alive across the tool's run.
    kv::unique_handle observer(::CreateMutexW(nullptr, FALSE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(observer);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(observer.get(), 0));
    ::ReleaseMutex(observer.get());
}

TEST_F(UpgradeTool, MalformedCommandLinesAreIgnoredAndTheRoadIsStillChosen) {
    SeedProduct(L"1.71.0", true);
    for (const wchar_t* arguments : {L"--lang fi", L"-l de", L"--lang", L"--bogus", L"--lang fi -l de",
                                     L"--lang \"unterminated", L"\"\" -x", L"word --lang fi"}) {
        const ToolRun run = RunTool(arguments);
        ASSERT_TRUE(run.finished) << arguments;
        EXPECT_EQ(0u, run.exitCode) << arguments;
        EXPECT_TRUE(Contains(run.log, L"ShowNXIsUpToDateWindow")) << arguments << "\n" << run.log;
    }
}

}  // namespace

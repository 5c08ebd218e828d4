// The on-first-use loading of the IPC library: where it is searched, in
// which order, and what a missing library or entry gives the caller. The
// libraries are real builds loaded for real; the program's own path is
// placed into a scratch folder through the replaceable table of system
// calls, which also records what was asked.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/RegistryView.h"
#include "product/DelayLoadResolver.h"
#include "product/DelayLoadSystemCalls.h"
#include "product/GuardedDelayLoadInit.h"
#include "product/QmtIpcImports.h"
#include "tests/support/StubFixtures.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TriggerTestSupport.h"

using triggertest::Narrow;
using testsupport::TempFolder;
using triggertest::WindowsPath;

namespace {

const wchar_t* const kLookupKey = L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading\\100";

class RecordingCalls : public DelayLoadSystemCalls {
public:
    LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key) override {
        openedKeys.emplace_back(subKey ? subKey : "", access);
        return real.RegOpenKeyExA(root, subKey, options, access, key);
    }
    LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD dataSize) override {
        return real.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    LONG RegCloseKey(HKEY key) override {
        ++closedKeys;
        return real.RegCloseKey(key);
    }
    DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) override {
        if (programPath.empty()) return real.GetModuleFileNameA(module, fileName, size);
        lstrcpynA(fileName, programPath.c_str(), static_cast<int>(size));
        return static_cast<DWORD>(strlen(fileName));
    }
    HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) override {
        if (!probedPath.empty() && probedPath == fileName) {
            // Whether someone else could change or remove the file while it loads.
            kv::unique_hfile writer(::CreateFileW(fileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
            probedSwappable = static_cast<bool>(writer) || ::DeleteFileW(fileName);
        }
        HMODULE module = real.LoadLibraryExW(fileName, file, flags);
        loads.emplace_back(Narrow(fileName), module != nullptr);
        loadFlags.push_back(flags);
        return module;
    }

    DelayLoadSystemCalls& real = Win32DelayLoadSystemCalls();
    std::string programPath;
    std::vector<std::pair<std::string, REGSAM>> openedKeys;
    int closedKeys = 0;
    std::vector<std::pair<std::string, bool>> loads;  // path, loaded
    std::vector<DWORD> loadFlags;
    std::wstring probedPath;  // tried for writing and deleting when it is loaded
    bool probedSwappable = true;
};

class LibraryLoading : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading");
        calls_.programPath = Narrow(program_.file(L"upgrade_tool.exe"));
        ReplaceDelayLoadSystemCalls(&calls_);
    }
    void TearDown() override {
        UnloadDelayLoadedLibrary(QmtIpcDelayLoadDescriptor());
        ReplaceDelayLoadSystemCalls(nullptr);
        testsupport::DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading");
    }

    void PlaceLibraryBesideProgram(const std::wstring& path) {
        ASSERT_TRUE(::CopyFileW(path.c_str(), program_.file(L"QMTIPC.dll").c_str(), FALSE));
    }
    void RegisterLibrary(const std::wstring& path) {
        ASSERT_TRUE(testsupport::SetString(kLookupKey, L"QMTIPC.dll", path));
    }
    int Initialize(DelayLoadFailure& failure) {
        return GuardedDelayLoadInit(kQmtIpcDelayLoadId, &QMTIPCDelayLoadInitialize, &failure);
    }

    TempFolder program_;
    RecordingCalls calls_;
};

DelayLoadFailure FreshFailure() {
    DelayLoadFailure failure;
    failure.code = 42;
    memset(failure.libraryName, 'x', sizeof(failure.libraryName));
    memset(failure.entryName, 'x', sizeof(failure.entryName));
    return failure;
}

TEST_F(LibraryLoading, LibrarySignedByTheMakerBesideTheProgramIsLoadedFromThereWithoutReadingTheRegistry) {
    PlaceLibraryBesideProgram(FixturePath(L"ipc-kvantor\\QMTIPC.dll"));
    calls_.probedPath = program_.file(L"QMTIPC.dll");
    // A registered copy must not be preferred.
    RegisterLibrary(WindowsPath(KV_QMTIPC_PATH));
    DelayLoadFailure failure = FreshFailure();

    EXPECT_EQ(DelayLoadInitRan, Initialize(failure));
    EXPECT_EQ(42, failure.code) << "the record's code is left alone on success";
    ASSERT_EQ(1u, calls_.loads.size());
    EXPECT_EQ(Narrow(program_.file(L"QMTIPC.dll")), calls_.loads[0].first);
    EXPECT_TRUE(calls_.loads[0].second);
    EXPECT_FALSE(calls_.probedSwappable) << "the checked file is held until it is loaded";
    EXPECT_TRUE(calls_.openedKeys.empty());
}

// The program may have been started from a folder users can write: a copy
// beside it that the maker did not sign is passed over for the registered one.
TEST_F(LibraryLoading, LibraryBesideTheProgramNotSignedByTheMakerIsSkippedForTheRegisteredOne) {
    const std::wstring besideCopies[] = {WindowsPath(KV_QMTIPC_PATH), FixturePath(L"ipc-other\\QMTIPC.dll")};
    RegisterLibrary(WindowsPath(KV_QMTIPC_PATH));
    for (const std::wstring& copy : besideCopies) {
        SCOPED_TRACE(Narrow(copy));
        PlaceLibraryBesideProgram(copy);
        calls_.loads.clear();
        DelayLoadFailure failure = FreshFailure();

        EXPECT_EQ(DelayLoadInitRan, Initialize(failure));
        ASSERT_EQ(1u, calls_.loads.size());
        EXPECT_EQ(Narrow(WindowsPath(KV_QMTIPC_PATH)), calls_.loads[0].first);
        EXPECT_TRUE(calls_.loads[0].second);
        UnloadDelayLoadedLibrary(QmtIpcDelayLoadDescriptor());
    }
}

TEST_F(LibraryLoading, LibraryRegisteredUnderTheLookupKeyIsLoadedFromItsPath) {
    RegisterLibrary(WindowsPath(KV_QMTIPC_PATH));
    DelayLoadFailure failure = FreshFailure();

    EXPECT_EQ(DelayLoadInitRan, Initialize(failure));
    ASSERT_EQ(1u, calls_.loads.size());
    EXPECT_EQ(Narrow(WindowsPath(KV_QMTIPC_PATH)), calls_.loads[0].first);
    EXPECT_TRUE(calls_.loads[0].second);
    ASSERT_EQ(1u, calls_.openedKeys.size());
    EXPECT_EQ("Software\\K-Vantor\\QMT\\Delay Loading\\100", calls_.openedKeys[0].first);
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ | kv::kProductRegistryView), calls_.openedKeys[0].second);
    EXPECT_EQ(1, calls_.closedKeys);
    // Its dependencies come from its own folder.
    EXPECT_EQ((std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH}), calls_.loadFlags);

    // The second entry comes from the library already loaded.
    char target[] = "NoDaemonListensHere";
    EXPECT_NE(0, QMTIPCSendMessage(target, 1, nullptr, 0, 0));
    EXPECT_EQ(1u, calls_.loads.size());
}

TEST_F(LibraryLoading, RegisteredPathWithEnvironmentReferencesIsExpanded) {
    const std::wstring built = WindowsPath(KV_QMTIPC_PATH);
    const size_t slash = built.rfind(L'\\');
    ASSERT_TRUE(::SetEnvironmentVariableW(L"KV_TEST_IPC_FOLDER", built.substr(0, slash).c_str()));
    const std::wstring expandable = L"%KV_TEST_IPC_FOLDER%" + built.substr(slash);
    ASSERT_TRUE(testsupport::SetRawValue(kLookupKey, L"QMTIPC.dll", REG_EXPAND_SZ, expandable.c_str(),
                                         static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t))));
    DelayLoadFailure failure = FreshFailure();
    EXPECT_EQ(DelayLoadInitRan, Initialize(failure));
    ASSERT_EQ(1u, calls_.loads.size());
    EXPECT_EQ(Narrow(built), calls_.loads[0].first);
}

TEST_F(LibraryLoading, NeitherBesideNorRegisteredGivesCodeOneNamingTheLibrary) {
    DelayLoadFailure failure = FreshFailure();

    EXPECT_EQ(DelayLoadInitLibraryNotFound, Initialize(failure));
    EXPECT_EQ(DelayLoadInitLibraryNotFound, failure.code);
    EXPECT_STREQ("QMTIPC.dll", failure.libraryName);
    EXPECT_STREQ("", failure.entryName);
    // Nothing was loaded: never from the system's search path.
    EXPECT_TRUE(calls_.loads.empty());
}

TEST_F(LibraryLoading, RegisteredValuesThatNameNoLoadableFileGiveCodeOneWithoutASearch) {
    const std::wstring cases[] = {
        L"",
        L"QMTIPC.dll",  // relative: the loader would search the system's folders
        L"C:\\no such folder\\QMTIPC.dll",
        program_.path(),  // a folder
        L"C:\\" + std::wstring(300, L'd') + L"\\QMTIPC.dll",
    };
    for (const std::wstring& registered : cases) {
        RegisterLibrary(registered);
        calls_.loads.clear();
        DelayLoadFailure failure = FreshFailure();
        EXPECT_EQ(DelayLoadInitLibraryNotFound, Initialize(failure)) << Narrow(registered);
        EXPECT_STREQ("QMTIPC.dll", failure.libraryName);
        for (const auto& load : calls_.loads) {
            EXPECT_NE("QMTIPC.dll", load.first) << "searched by bare name";
            EXPECT_FALSE(load.second);
        }
    }
}

TEST_F(LibraryLoading, LibraryWithoutTheInitEntryGivesCodeTwoWithBothNames) {
    RegisterLibrary(WindowsPath(KV_IPC_WITHOUT_INIT_PATH));
    DelayLoadFailure failure = FreshFailure();

    EXPECT_EQ(DelayLoadInitEntryNotFound, Initialize(failure));
    EXPECT_EQ(DelayLoadInitEntryNotFound, failure.code);
    EXPECT_STREQ("QMTIPC.dll", failure.libraryName);
    EXPECT_STREQ("QMTIPCDelayLoadInitialize", failure.entryName);
}

TEST(DelayLoadKeyPath, IdZeroIsTheFrameworkKeyAndOthersAreNumberedUnderTheProduct) {
    const std::pair<unsigned, const char*> cases[] = {
        {0, "Software\\Tallowmere\\K-Vantor\\Delay Loading"},
        {100, "Software\\K-Vantor\\QMT\\Delay Loading\\100"},
        {4294967295u, "Software\\K-Vantor\\QMT\\Delay Loading\\4294967295"},
    };
    for (const auto& c : cases) {
        char path[1024];
        FormatDelayLoadKeyPath(c.first, path);
        EXPECT_STREQ(c.second, path);
    }
}

// Init functions of the tests' own, run inside the guard.
DelayLoadInitFunction g_seenInside = nullptr;
int WINAPI RecordTheRunningInit() {
    g_seenInside = CurrentDelayLoadInitFunction();
    return 0;
}
int WINAPI ThrowSomethingElse() { throw std::runtime_error("not a delay-load failure"); }

HMODULE g_longModule = nullptr;
FARPROC g_longAddress = nullptr;
DelayLoadImport g_longImports[] = {{"SomeEntry", 0, &g_longAddress}};
int WINAPI LoadLibraryWithLongName() {
    const DelayLoadDescriptor descriptor = {kDelayLoadRelativeAddresses,
                                            "ALibraryWhoseNameIsLongerThanTheRecordHolds.dll",
                                            &g_longModule, g_longImports, 1, nullptr, 0};
    ResolveDelayLoadedImport(descriptor, 0);
    return 0;
}

HMODULE g_badModule = nullptr;
FARPROC g_badAddress = nullptr;
DelayLoadImport g_badImports[] = {{"SomeEntry", 0, &g_badAddress}};
int WINAPI ResolveThroughBadDescriptor() {
    const DelayLoadDescriptor descriptor = {0, "QMTIPC.dll", &g_badModule, g_badImports, 1, nullptr, 0};
    ResolveDelayLoadedImport(descriptor, 0);
    return 0;
}

TEST_F(LibraryLoading, DescriptorWithoutRelativeAddressesGivesCodeThreeAndLoadsNothing) {
    DelayLoadFailure failure = FreshFailure();
    EXPECT_EQ(DelayLoadInitBadDescriptor, GuardedDelayLoadInit(100, &ResolveThroughBadDescriptor, &failure));
    EXPECT_EQ(DelayLoadInitBadDescriptor, failure.code);
    EXPECT_TRUE(calls_.loads.empty());
}

TEST_F(LibraryLoading, LongLibraryNameIsCutToFitTheRecord) {
    DelayLoadFailure failure = FreshFailure();
    EXPECT_EQ(DelayLoadInitLibraryNotFound, GuardedDelayLoadInit(100, &LoadLibraryWithLongName, &failure));
    EXPECT_EQ(std::string("ALibraryWhoseNameIsLongerThanTheRecordHolds.dll").substr(0, 31),
              std::string(failure.libraryName));
}

TEST_F(LibraryLoading, LookupKeyFollowsTheIdAndKeepsTheLastOneSet) {
    EXPECT_EQ(DelayLoadInitRan, GuardedDelayLoadInit(7, &RecordTheRunningInit, nullptr));
    EXPECT_EQ("Software\\K-Vantor\\QMT\\Delay Loading\\7", DelayLoadLookupKeyPath());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, DelayLoadLookupRoot());

    // A first use outside any initialisation searches the last key set.
    EXPECT_EQ(nullptr, FindAndLoadLibrary("QMTIPC.dll"));
    ASSERT_EQ(1u, calls_.openedKeys.size());
    EXPECT_EQ("Software\\K-Vantor\\QMT\\Delay Loading\\7", calls_.openedKeys[0].first);
}

TEST(GuardedInit, RunningInitIsVisibleInsideAndClearedAfterwards) {
    g_seenInside = nullptr;
    EXPECT_EQ(DelayLoadInitRan, GuardedDelayLoadInit(100, &RecordTheRunningInit, nullptr));
    EXPECT_EQ(&RecordTheRunningInit, g_seenInside);
    EXPECT_EQ(nullptr, CurrentDelayLoadInitFunction());
}

TEST(GuardedInit, OtherExceptionsPassOnAndLeaveTheGuardUsable) {
    EXPECT_THROW(GuardedDelayLoadInit(100, &ThrowSomethingElse, nullptr), std::runtime_error);
    EXPECT_EQ(nullptr, CurrentDelayLoadInitFunction());
    // Another thread can still enter: the lock was left on the way out.
    auto other = std::async(std::launch::async, [] { return GuardedDelayLoadInit(100, &RecordTheRunningInit, nullptr); });
    ASSERT_EQ(std::future_status::ready, other.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(DelayLoadInitRan, other.get());
}

// A system library that cannot come from the system folder is not looked
// for anywhere else: the first call into it fails.
TEST(SystemLibraryHook, FailedLoadFromTheSystemFolderFailsTheCallInsteadOfSearchingByName) {
    const kv::unique_handle probe =
        triggertest::StartProcess(L"\"" + WindowsPath(KV_SYSTEM_LIBRARY_PROBE_PATH) + L"\"");
    ASSERT_TRUE(probe);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(probe.get(), 30000));
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(probe.get(), &exitCode));
    EXPECT_EQ(kDelayLoadLibraryNotFound, exitCode);
}

}  // namespace

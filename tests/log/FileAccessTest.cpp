// The file writer on real files in a private temporary folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <cwctype>

#include "log/FileAccessContinuous.h"
#include "log/FileAccessTransient.h"
#include "log/LogNames.h"
#include "log/PathIdentity.h"
#include "tests/log/LogTestSupport.h"

using namespace KvQmtLogging;
using namespace LogTest;

namespace {

std::wstring TestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    std::wstring folder;
    for (char c : name) folder += iswalnum(static_cast<wchar_t>(c)) ? static_cast<wchar_t>(c) : L'_';
    return folder;
}

std::unique_ptr<FileAccessBase> MakeWriter(bool continuous, unsigned rotateCount, DWORD maxSize,
                                           const std::wstring& path,
                                           std::unique_ptr<FileUtils> utils = std::make_unique<FileUtilsWin32>()) {
    if (continuous) {
        return std::make_unique<FileAccessContinuous>(rotateCount, maxSize, path.c_str(),
                                                      std::make_unique<FileLowLevel>(), std::move(utils));
    }
    return std::make_unique<FileAccessTransient>(rotateCount, maxSize, path.c_str(), std::make_unique<FileLowLevel>(),
                                                 std::move(utils));
}

void WriteLine(FileAccessBase& writer, const std::wstring& text) {
    const std::wstring line = text + L"\r\n";
    writer.Write(line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)));
}

std::vector<unsigned char> Utf16File(const std::wstring& text) {
    std::vector<unsigned char> bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    return bytes;
}

class LogFileWriter : public ::testing::TestWithParam<bool> {
protected:
    LogFileWriter() : folder_(TestName()) {}
    bool continuous() const { return GetParam(); }
    TempFolder folder_;
};

}  // namespace

TEST_P(LogFileWriter, CreatesFolderChainAndBeginsFileWithByteOrderMark) {
    const std::wstring path = folder_.file(L"a\\b\\c\\X.log");
    auto writer = MakeWriter(continuous(), 2, 1024, path);
    EXPECT_TRUE(DirectoryExists(folder_.file(L"a\\b\\c")));
    EXPECT_FALSE(FileExists(path)) << "the file is opened only at the first line";
    WriteLine(*writer, L"first");
    writer.reset();
    EXPECT_EQ(Utf16File(L"first\r\n"), ReadBytes(path));
}

TEST_P(LogFileWriter, ForeignFileIsRotatedAwayAtTheFirstLine) {
    const std::wstring path = folder_.file(L"X.log");
    const std::vector<unsigned char> foreign = {'o', 'l', 'd', ' ', 'a', 'n', 's', 'i', '\r', '\n'};
    WriteBytes(path, foreign);
    auto writer = MakeWriter(continuous(), 2, 1024, path);
    WriteLine(*writer, L"new");
    writer.reset();
    EXPECT_EQ(foreign, ReadBytes(folder_.file(L"X.1.log")));
    EXPECT_EQ(Utf16File(L"new\r\n"), ReadBytes(path));
}

TEST_P(LogFileWriter, FileHoldingOnlyTheMarkIsAppendedTo) {
    const std::wstring path = folder_.file(L"X.log");
    WriteBytes(path, {0xFF, 0xFE});
    auto writer = MakeWriter(continuous(), 2, 1024, path);
    WriteLine(*writer, L"one");
    WriteLine(*writer, L"two");
    writer.reset();
    EXPECT_EQ(Utf16File(L"one\r\ntwo\r\n"), ReadBytes(path));
    EXPECT_FALSE(FileExists(folder_.file(L"X.1.log")));
}

TEST_P(LogFileWriter, RotatesAboveTheSizeLimitKeepingTheCount) {
    const std::wstring path = folder_.file(L"X.log");
    // Each line is 8 characters, 16 bytes; the mark is 2. With a limit of 40
    // bytes the file takes three lines (50 bytes) before one finds it too big.
    auto writer = MakeWriter(continuous(), 2, 40, path);
    for (int i = 0; i < 12; ++i) WriteLine(*writer, L"line" + std::to_wstring(10 + i));
    writer.reset();
    EXPECT_EQ(Utf16File(L"line19\r\nline20\r\nline21\r\n"), ReadBytes(path));
    EXPECT_EQ(Utf16File(L"line16\r\nline17\r\nline18\r\n"), ReadBytes(folder_.file(L"X.1.log")));
    EXPECT_EQ(Utf16File(L"line13\r\nline14\r\nline15\r\n"), ReadBytes(folder_.file(L"X.2.log")));
    EXPECT_FALSE(FileExists(folder_.file(L"X.3.log")));
}

TEST_P(LogFileWriter, FileAtExactlyTheLimitIsNotRotated) {
    const std::wstring path = folder_.file(L"X.log");
    // 2 + 2 * 16 = 34 bytes: equal to the limit, so the third line still fits.
    auto writer = MakeWriter(continuous(), 2, 34, path);
    for (int i = 0; i < 3; ++i) WriteLine(*writer, L"line" + std::to_wstring(10 + i));
    writer.reset();
    EXPECT_EQ(Utf16File(L"line10\r\nline11\r\nline12\r\n"), ReadBytes(path));
    EXPECT_FALSE(FileExists(folder_.file(L"X.1.log")));
}

TEST_P(LogFileWriter, CountZeroRemovesTheFullFile) {
    const std::wstring path = folder_.file(L"X.log");
    auto writer = MakeWriter(continuous(), 0, 3, path);
    WriteLine(*writer, L"one");
    WriteLine(*writer, L"two");
    writer.reset();
    EXPECT_EQ(Utf16File(L"two\r\n"), ReadBytes(path));
    EXPECT_FALSE(FileExists(folder_.file(L"X.1.log")));
    EXPECT_FALSE(FileExists(folder_.file(L"X.log__delete_1"))) << "moved aside, then removed";
}

TEST_P(LogFileWriter, PathWithoutDotRotatesToNumberedNames) {
    const std::wstring path = folder_.file(L"plain");
    auto writer = MakeWriter(continuous(), 2, 3, path);
    WriteLine(*writer, L"one");
    WriteLine(*writer, L"two");
    WriteLine(*writer, L"three");
    writer.reset();
    EXPECT_EQ(Utf16File(L"three\r\n"), ReadBytes(path));
    EXPECT_EQ(Utf16File(L"two\r\n"), ReadBytes(folder_.file(L"plain.1")));
    EXPECT_EQ(Utf16File(L"one\r\n"), ReadBytes(folder_.file(L"plain.2")));
}

TEST_P(LogFileWriter, FileThatCannotBeOpenedLosesOnlyItsLines) {
    const std::wstring path = folder_.file(L"X.log");
    WriteBytes(path, Utf16File(L"current\r\n"));
    WriteBytes(folder_.file(L"X.1.log"), Utf16File(L"older\r\n"));
    WriteBytes(folder_.file(L"X.2.log"), Utf16File(L"oldest\r\n"));
    // Another program holds the log without any sharing.
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    auto writer = MakeWriter(continuous(), 2, 1024, path);
    for (int i = 0; i < 20; ++i) WriteLine(*writer, L"lost " + std::to_wstring(i));
    writer.reset();
    CloseHandle(holder);
    EXPECT_EQ(Utf16File(L"current\r\n"), ReadBytes(path));
    EXPECT_EQ(Utf16File(L"older\r\n"), ReadBytes(folder_.file(L"X.1.log")));
    EXPECT_EQ(Utf16File(L"oldest\r\n"), ReadBytes(folder_.file(L"X.2.log")));
}

// The links of the platform under test do not resolve (a link made there
// reads as missing), so the link is reported by the file utilities instead:
// a folder opened whose final path ends as the given one is taken for a link.
class ReportsALink : public FileUtilsWin32 {
public:
    explicit ReportsALink(std::wstring link) : link_(std::move(link)) {}
    bool IsLink(HANDLE opened) override {
        const std::wstring path = FinalPathOf(opened);
        const bool named = !link_.empty() && path.size() >= link_.size() &&
                           _wcsicmp(path.c_str() + path.size() - link_.size(), link_.c_str()) == 0;
        return named || FileUtilsWin32::IsLink(opened);
    }

private:
    std::wstring link_;
};

TEST_P(LogFileWriter, NothingIsCreatedMovedOrDeletedBehindALink) {
    const std::wstring maker = folder_.file(L"K-Vantor");
    const std::wstring logFolder = maker + L"\\logs\\OvSA";
    const std::wstring path = logFolder + L"\\X.log";
    const wchar_t* const links[] = {L"\\K-Vantor", L"\\K-Vantor\\logs", L"\\K-Vantor\\logs\\OvSA"};
    for (const wchar_t* link : links) {
        testsupport::RemoveTree(maker);
        auto unsafe = [&] { return MakeWriter(continuous(), 0, 3, path, std::make_unique<ReportsALink>(link)); };
        // No log file is made behind the link.
        auto writer = unsafe();
        WriteLine(*writer, L"line");
        writer.reset();
        EXPECT_FALSE(FileExists(path)) << link;

        // A full file is neither rotated away nor appended to.
        MakeWriter(continuous(), 0, 3, path).reset();
        WriteBytes(path, Utf16File(L"full file\r\n"));
        writer = unsafe();
        for (int i = 0; i < 3; ++i) WriteLine(*writer, L"line");
        writer.reset();
        EXPECT_EQ(Utf16File(L"full file\r\n"), ReadBytes(path)) << link;
        EXPECT_FALSE(FileExists(path + L"__delete_1")) << link;
    }
}

TEST_P(LogFileWriter, LogFileThatIsASecondNameOfAnotherFileIsLeftAlone) {
    const std::wstring path = folder_.file(L"X.log");
    const std::wstring elsewhere = folder_.file(L"elsewhere.txt");
    WriteBytes(elsewhere, Utf16File(L"full file\r\n"));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), elsewhere.c_str(), nullptr));
    auto writer = MakeWriter(continuous(), 0, 3, path);
    for (int i = 0; i < 3; ++i) WriteLine(*writer, L"line");
    writer.reset();
    EXPECT_EQ(Utf16File(L"full file\r\n"), ReadBytes(elsewhere));
    EXPECT_FALSE(FileExists(path + L"__delete_1"));
}

TEST_P(LogFileWriter, NothingIsWrittenThroughALinkMadeAfterTheChecks) {
    const std::wstring path = folder_.file(L"K-Vantor\\logs\\OvSA\\X.log");
    MakeWriter(continuous(), 0, 3, path).reset();
    WriteBytes(path, Utf16File(L"full file\r\n"));
    // By the open, a name between the maker's folder and the file leads
    // elsewhere, as a junction would: "x\.." stands in for one.
    auto writer = MakeWriter(continuous(), 0, 3, folder_.file(L"K-Vantor\\logs\\x\\..\\OvSA\\X.log"),
                             std::make_unique<ReportsALink>(L""));
    for (int i = 0; i < 3; ++i) WriteLine(*writer, L"line");
    writer.reset();
    EXPECT_EQ(Utf16File(L"full file\r\n"), ReadBytes(path));
}

// Just before the writer's first create, rename or delete, one folder of the
// log is swapped for another tree that holds files of the same names, as a
// junction put there would make the path lead elsewhere.
class FolderSwap {
public:
    FolderSwap(std::wstring folder, std::wstring replacement)
        : folder_(std::move(folder)), replacement_(std::move(replacement)) {}
    void Now() {
        if (tried_) return;
        tried_ = true;
        if (MoveFileExW(folder_.c_str(), (folder_ + L".moved").c_str(), 0)) {
            MoveFileExW(replacement_.c_str(), folder_.c_str(), 0);
        }
    }

private:
    std::wstring folder_;
    std::wstring replacement_;
    bool tried_ = false;
};

class SwapsBeforeActing : public FileUtilsWin32 {
public:
    explicit SwapsBeforeActing(FolderSwap& swap) : swap_(swap) {}
    bool RemoveFile(HANDLE folder, const wchar_t* name) override {
        swap_.Now();
        return FileUtilsWin32::RemoveFile(folder, name);
    }
    bool RenameFile(HANDLE folder, const wchar_t* from, const wchar_t* to) override {
        swap_.Now();
        return FileUtilsWin32::RenameFile(folder, from, to);
    }

private:
    FolderSwap& swap_;
};

class SwapsBeforeOpening : public FileLowLevel {
public:
    explicit SwapsBeforeOpening(FolderSwap& swap) : swap_(swap) {}
    bool Open(HANDLE folder, const wchar_t* name) override {
        swap_.Now();
        return FileLowLevel::Open(folder, name);
    }

private:
    FolderSwap& swap_;
};

TEST_P(LogFileWriter, FolderSwappedAfterTheChecksGetsNoCreateRenameOrDelete) {
    const wchar_t* const levels[] = {L"K-Vantor", L"K-Vantor\\logs", L"K-Vantor\\logs\\OvSA"};
    const wchar_t* const names[] = {L"X.log", L"X.1.log", L"X.2.log"};
    for (const wchar_t* level : levels) {
        testsupport::RemoveTree(folder_.file(L"K-Vantor"));
        testsupport::RemoveTree(folder_.file(L"K-Vantor.moved"));
        testsupport::RemoveTree(folder_.file(L"other"));
        const std::wstring path = folder_.file(L"K-Vantor\\logs\\OvSA\\X.log");
        const std::wstring other = folder_.file(L"other\\K-Vantor\\logs\\OvSA");
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"other").c_str(), nullptr));
        MakeWriter(continuous(), 0, 3, folder_.file(L"other\\K-Vantor\\logs\\OvSA\\X.log")).reset();
        for (const wchar_t* name : names) WriteBytes(other + L"\\" + name, Utf16File(L"not the log's\r\n"));
        MakeWriter(continuous(), 0, 3, path).reset();
        WriteBytes(path, Utf16File(L"full file\r\n"));

        for (unsigned count : {0u, 2u}) {
            // A folder that cannot be moved leaves nothing to swap for the
            // second writer either.
            FolderSwap swap(folder_.file(level), folder_.file(std::wstring(L"other\\") + level));
            auto writer = continuous()
                              ? std::unique_ptr<FileAccessBase>(std::make_unique<FileAccessContinuous>(
                                    count, 3, path.c_str(), std::make_unique<SwapsBeforeOpening>(swap),
                                    std::make_unique<SwapsBeforeActing>(swap)))
                              : std::make_unique<FileAccessTransient>(count, 3, path.c_str(),
                                                                      std::make_unique<SwapsBeforeOpening>(swap),
                                                                      std::make_unique<SwapsBeforeActing>(swap));
            for (int i = 0; i < 3; ++i) WriteLine(*writer, L"line");
        }
        // Wherever the other tree now is, its files are as they were and
        // it holds no others.
        std::wstring now = other;
        if (!DirectoryExists(now)) now = path.substr(0, path.rfind(L'\\'));
        for (const wchar_t* name : names) {
            EXPECT_EQ(Utf16File(L"not the log's\r\n"), ReadBytes(now + L"\\" + name)) << level << L" " << name;
        }
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((now + L"\\*").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        int files = 0;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
        } while (FindNextFileW(search, &found));
        FindClose(search);
        EXPECT_EQ(3, files) << level;
    }
}

INSTANTIATE_TEST_SUITE_P(BothKinds, LogFileWriter, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Continuous" : "Transient";
                         });

TEST(LogFileBounds, CountAndSizeAreClamped) {
    TempFolder folder(TestName());
    auto large = MakeWriter(false, 150, 0, folder.file(L"X.log"));
    EXPECT_EQ(99u, large->RotateCount());
    EXPECT_EQ(3u, large->MaxSize());
    auto edge = MakeWriter(false, 99, 2, folder.file(L"Y.log"));
    EXPECT_EQ(99u, edge->RotateCount());
    EXPECT_EQ(3u, edge->MaxSize());
    auto kept = MakeWriter(false, 2, 102400, folder.file(L"Z.log"));
    EXPECT_EQ(2u, kept->RotateCount());
    EXPECT_EQ(102400u, kept->MaxSize());
}

TEST(LogFileBounds, CountOfNinetyNineKeepsNinetyNineOlderFiles) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    auto writer = MakeWriter(false, 150, 0, path);
    for (int i = 0; i < 102; ++i) WriteLine(*writer, std::to_wstring(i));
    writer.reset();
    EXPECT_EQ(Utf16File(L"101\r\n"), ReadBytes(path));
    EXPECT_EQ(Utf16File(L"2\r\n"), ReadBytes(folder.file(L"X.99.log")));
    EXPECT_FALSE(FileExists(folder.file(L"X.100.log")));
}

TEST(LogFileDeleteName, NextFreeNumberIsTaken) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    // A removal that could not finish earlier left its moved-aside file.
    WriteBytes(path + L"__delete_1", {1});
    auto writer = MakeWriter(false, 0, 3, path);
    WriteLine(*writer, L"one");
    WriteLine(*writer, L"two");
    writer.reset();
    // Had the full file been moved onto __delete_1, that file would be gone.
    EXPECT_EQ(std::vector<unsigned char>{1}, ReadBytes(path + L"__delete_1"));
    EXPECT_FALSE(FileExists(path + L"__delete_2"));
    EXPECT_EQ(Utf16File(L"two\r\n"), ReadBytes(path));
}

TEST(LogFileDeleteName, FileHeldOpenIsMovedAsideUnderTheNextNumber) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    WriteBytes(path + L"__delete_1", {1});
    auto writer = MakeWriter(false, 0, 3, path);
    WriteLine(*writer, L"one");
    // Another process reading the log keeps it open (sharing delete, as log
    // viewers do); the name must be freed all the same.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    WriteLine(*writer, L"two");
    writer.reset();
    EXPECT_EQ(Utf16File(L"two\r\n"), ReadBytes(path));
    CloseHandle(reader);
    EXPECT_FALSE(FileExists(path + L"__delete_2")) << "removed once the reader let go";
}

TEST(LogFileMutex, LineIsDroppedWhileAnotherWriterHoldsTheMutex) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    auto writer = MakeWriter(false, 2, 1024, path);
    WriteLine(*writer, L"before");

    HANDLE held = CreateMutexW(nullptr, FALSE, MakeLogMutexName(path).c_str());
    ASSERT_NE(nullptr, held);
    HANDLE acquired = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        WaitForSingleObject(held, INFINITE);
        SetEvent(acquired);
        WaitForSingleObject(release, 5000);
        ReleaseMutex(held);
    });
    WaitForSingleObject(acquired, 5000);
    const DWORD start = GetTickCount();
    WriteLine(*writer, L"dropped");
    const DWORD waited = GetTickCount() - start;
    SetEvent(release);
    holder.join();
    WriteLine(*writer, L"after");
    writer.reset();
    CloseHandle(held);
    CloseHandle(acquired);
    CloseHandle(release);

    EXPECT_GE(waited, 450u) << "the writer waits about half a second before it gives up";
    EXPECT_EQ(Utf16File(L"before\r\nafter\r\n"), ReadBytes(path));
}

TEST(LogFileMutex, AbandonedMutexCountsAsAcquired) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    auto writer = MakeWriter(false, 2, 1024, path);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, MakeLogMutexName(path).c_str());
    ASSERT_NE(nullptr, mutex);
    // A writer that ended while holding the mutex.
    std::thread([&] { WaitForSingleObject(mutex, INFINITE); }).join();
    WriteLine(*writer, L"written");
    writer.reset();
    CloseHandle(mutex);
    EXPECT_EQ(Utf16File(L"written\r\n"), ReadBytes(path));
}

TEST(LogFileMutex, MutexCarriesTheSharedName) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    auto writer = MakeWriter(false, 2, 1024, path);
    ASSERT_NE(nullptr, writer->Mutex());
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, MakeLogMutexName(path).c_str());
    EXPECT_NE(nullptr, opened) << "other processes find the mutex by the log's path";
    if (opened) CloseHandle(opened);
}

TEST(LogFileOpen, UnopenableFileLosesTheLineAndRecoversLater) {
    TempFolder folder(TestName());
    const std::wstring path = folder.file(L"X.log");
    auto writer = MakeWriter(true, 2, 1024, path);
    // A folder where the file should be: CreateFileW fails.
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    WriteLine(*writer, L"lost");
    ASSERT_TRUE(RemoveDirectoryW(path.c_str()));
    WriteLine(*writer, L"kept");
    writer.reset();
    EXPECT_EQ(Utf16File(L"kept\r\n"), ReadBytes(path));
}

// The destination file and its 4-byte size metafile on their own: how a
// destination is measured, reset, written and settled.
#include <gtest/gtest.h>

#include "download/File.h"
#include "tests/download/DownloadHarness.h"

using namespace DownloadTesting;
using QmtDownload::File;

namespace {

class FileStoreTest : public ::testing::Test {
protected:
    std::wstring Destination(size_t bytes) {
        const std::wstring path = folder_.file(L"target.bin");
        WriteBytes(path, std::vector<BYTE>(bytes, 0x42));
        return path;
    }
    TempFolder folder_;
};

TEST_F(FileStoreTest, PartialDestinationIsMeasuredFromItsLengthAndMetafile) {
    const std::wstring path = Destination(500);
    WriteBytes(path + L".dl", {0xE8, 0x03, 0x00, 0x00});
    File file(path.c_str(), nullptr);

    ASSERT_EQ(file.OpenIfExists(), 0u);

    EXPECT_EQ(file.currentSize(), 500u);
    EXPECT_EQ(file.expectedSize(), 1000u);
    EXPECT_FALSE(file.IsComplete());
}

TEST_F(FileStoreTest, DestinationLongerThanItsMetafileIsEmptied) {
    const std::wstring path = Destination(1200);
    WriteMetafile(path, 1000);
    {
        File file(path.c_str(), nullptr);
        ASSERT_EQ(file.OpenIfExists(), 0u);
        EXPECT_EQ(file.currentSize(), 0u);
        EXPECT_EQ(file.expectedSize(), File::kNoSize);
    }
    EXPECT_TRUE(ReadBytes(path).empty());
}

TEST_F(FileStoreTest, DestinationWithoutMetafileIsCompleteAndSettlesWithoutOne) {
    const std::wstring path = Destination(700);
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.OpenIfExists(), 0u);
    EXPECT_EQ(file.currentSize(), 700u);
    EXPECT_EQ(file.expectedSize(), 700u);
    EXPECT_TRUE(file.IsComplete());

    file.FinishWriting(true);

    EXPECT_FALSE(Exists(path + L".dl"));
    EXPECT_EQ(ReadBytes(path).size(), 700u);
}

TEST_F(FileStoreTest, MissingDestinationIsNeitherOpenedNorCreated) {
    const std::wstring path = folder_.file(L"absent.bin");
    File file(path.c_str(), nullptr);
    EXPECT_EQ(file.OpenIfExists(), 0u);
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(file.currentSize(), File::kNoSize);
}

TEST_F(FileStoreTest, InterruptedWriteLeavesTheBytesAndAMetafileForTheNextRun) {
    const std::wstring path = folder_.file(L"stopped.bin");
    {
        File file(path.c_str(), nullptr);
        ASSERT_EQ(file.Reset(1000), 0u);
        const std::vector<BYTE> chunk(700, 0x17);
        ASSERT_EQ(file.WriteData(chunk.data(), 700), 0u);
        EXPECT_EQ(file.sessionBytes(), 700u);
        file.FinishWriting(false);
    }
    EXPECT_EQ(ReadBytes(path).size(), 700u);
    EXPECT_EQ(ReadBytes(path + L".dl"), (std::vector<BYTE>{0xE8, 0x03, 0x00, 0x00}));

    File again(path.c_str(), nullptr);
    ASSERT_EQ(again.OpenIfExists(), 0u);
    const std::vector<BYTE> rest(300, 0x18);
    ASSERT_EQ(again.WriteData(rest.data(), 300), 0u);
    again.FinishWriting(true);
    EXPECT_FALSE(Exists(path + L".dl"));
    const std::vector<BYTE> whole = ReadBytes(path);
    ASSERT_EQ(whole.size(), 1000u);
    EXPECT_EQ(whole[699], 0x17);
    EXPECT_EQ(whole[700], 0x18) << "the second run appends at the end";
}

TEST_F(FileStoreTest, MarkingIncompleteWritesTheMetafileBeforeTheEnd) {
    const std::wstring path = folder_.file(L"early.bin");
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.Reset(5000), 0u);
    file.MarkIncomplete();
    DWORD expected = 0;
    ASSERT_TRUE(ReadMetafile(path, expected));
    EXPECT_EQ(expected, 5000u);
}

TEST_F(FileStoreTest, SuccessWithoutKnownLengthTakesTheWrittenLength) {
    const std::wstring path = folder_.file(L"nolength.bin");
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.Reset(File::kNoSize), 0u);
    const std::vector<BYTE> chunk(123, 0x01);
    ASSERT_EQ(file.WriteData(chunk.data(), 123), 0u);
    file.FinishWriting(true);
    EXPECT_EQ(file.expectedSize(), 123u);
    EXPECT_FALSE(Exists(path + L".dl"));
}

TEST_F(FileStoreTest, TwoByteMetafileKeepsItsHighHalfUnsetAndEmptiesNothing) {
    const std::wstring path = Destination(500);
    WriteBytes(path + L".dl", {0xE8, 0x03});
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.OpenIfExists(), 0u);
    EXPECT_EQ(file.expectedSize(), 0xFFFF03E8u);
    EXPECT_EQ(file.currentSize(), 500u);
    EXPECT_EQ(ReadBytes(path).size(), 500u);
}

TEST_F(FileStoreTest, UnreadableMetafileMeansNoExpectedSize) {
    const std::wstring path = Destination(500);
    ::CreateDirectoryW((path + L".dl").c_str(), nullptr);  // exists, but not as a file
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.OpenIfExists(), 0u);
    EXPECT_EQ(file.currentSize(), 500u);
    EXPECT_EQ(file.expectedSize(), 500u) << "a folder is no metafile";
    ::RemoveDirectoryW((path + L".dl").c_str());
}

TEST_F(FileStoreTest, DestinationInAMissingFolderGivesTheOpenError) {
    const std::wstring path = folder_.file(L"no-such-folder\\target.bin");
    File file(path.c_str(), nullptr);
    EXPECT_EQ(file.Reset(100), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(file.isOpen());
}

TEST_F(FileStoreTest, ServerTimeComparesAgainstTheLocalWriteTime) {
    SYSTEMTIME server = {};
    server.wYear = 2020;
    server.wMonth = 6;
    server.wDay = 1;
    FILETIME serverFile;
    ASSERT_TRUE(::SystemTimeToFileTime(&server, &serverFile));
    ULARGE_INTEGER t{{serverFile.dwLowDateTime, serverFile.dwHighDateTime}};
    const ULONGLONG second = 10000000;
    ULARGE_INTEGER before{}, after{};
    before.QuadPart = t.QuadPart - second;
    after.QuadPart = t.QuadPart + second;
    const FILETIME earlier{before.LowPart, before.HighPart};
    const FILETIME later{after.LowPart, after.HighPart};

    EXPECT_TRUE(QmtDownload::IsOlder(server, earlier));
    EXPECT_FALSE(QmtDownload::IsOlder(server, later));
    EXPECT_FALSE(QmtDownload::IsOlder(server, serverFile)) << "the same time is not older";
    EXPECT_FALSE(QmtDownload::IsOlder(server, FILETIME{})) << "no local time";
    EXPECT_FALSE(QmtDownload::IsOlder(SYSTEMTIME{}, earlier)) << "no Last-Modified";
}

// Sparse files, so that sizes near 4 GiB cost no disk.
TEST_F(FileStoreTest, SizesNeverWrapAroundAt4GiB) {
    const std::wstring path = folder_.file(L"huge.bin");
    for (const LONGLONG length : {0xFFFFFFF0ll, 0x100000010ll}) {
        {
            kv::unique_hfile handle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            LARGE_INTEGER end;
            end.QuadPart = length;
            ASSERT_TRUE(::SetFilePointerEx(handle.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle.get()));
        }
        File file(path.c_str(), nullptr);
        if (length > 0xFFFFFFFFll) {
            EXPECT_EQ(file.OpenIfExists(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE)) << "not measured as 16 bytes";
            continue;
        }
        ASSERT_EQ(file.OpenIfExists(), 0u);
        const std::vector<BYTE> chunk(100, 1);
        EXPECT_EQ(file.WriteData(chunk.data(), 100), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
        EXPECT_EQ(file.currentSize(), 0xFFFFFFF0u);
        EXPECT_EQ(file.WriteData(chunk.data(), 14), 0u) << "up to 0xFFFFFFFE bytes fit";
        EXPECT_EQ(file.currentSize(), 0xFFFFFFFEu);
    }
}

TEST_F(FileStoreTest, OpenDestinationSharesReadingOnly) {
    const std::wstring path = Destination(10);
    File file(path.c_str(), nullptr);
    ASSERT_EQ(file.OpenIfExists(), 0u);
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "no second writer during a download";
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
}

}  // namespace

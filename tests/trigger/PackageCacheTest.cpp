// The package cache edit on real files under the prefix's common
// application-data folder, with another process holding the file open
// where a test needs it.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "product/CacheFolderCheck.h"
#include "product/TextFileIo.h"
#include "product/UpdateTrigger.h"
#include "tests/support/TestLog.h"
#include "tests/support/TriggerTestSupport.h"

using testsupport::Contains;
using triggertest::FileHolder;
using triggertest::PackageCacheFile;
using triggertest::ReadBytes;
using triggertest::WriteBytes;

namespace {

const std::string kMarker = "productDefinitionVersion";

size_t Count(const std::wstring& text, const std::wstring& part) {
    size_t count = 0;
    for (size_t pos = text.find(part); pos != std::wstring::npos; pos = text.find(part, pos + 1)) ++count;
    return count;
}

struct EditCase {
    const char* name;
    std::string content;
    bool edited;
    std::string expected;
};

TEST(MakePackagesToIgnoreThrottling, EditsTheFirstLetterOfEveryMarkerAndNothingElse) {
    const EditCase cases[] = {
        {"none", "{\"version\":1}", false, "{\"version\":1}"},
        {"empty", "", false, ""},
        {"at start", kMarker + "=1", true, "aroductDefinitionVersion=1"},
        {"at end", "x" + kMarker, true, "xaroductDefinitionVersion"},
        {"adjacent", kMarker + kMarker, true, "aroductDefinitionVersionaroductDefinitionVersion"},
        {"other case", "ProductDefinitionVersion productdefinitionversion", false,
         "ProductDefinitionVersion productdefinitionversion"},
        {"cut short", "productDefinitionVersio", false, "productDefinitionVersio"},
        {"after a zero byte", std::string("a\0", 2) + kMarker, true, std::string("a\0", 2) + "aroductDefinitionVersion"},
    };
    for (const EditCase& c : cases) {
        std::string content = c.content;
        EXPECT_EQ(c.edited, MakePackagesToIgnoreThrottling(content)) << c.name;
        EXPECT_EQ(c.expected, content) << c.name;
    }
}

class PackageCache : public ::testing::Test {
protected:
    std::wstring NewLog() const { return log_.NewText(); }

    testsupport::LogMark log_{L"Test", L"update_trigger"};
    PackageCacheFile cache_;
};

TEST_F(PackageCache, ThreeMarkersAreEditedInPlaceAtTheirLoggedOffsetsAndTheAttributesStay) {
    const std::string content = "{\"a\":{\"" + kMarker + "\":1},\"b\":{\"" + kMarker + "\":2},\n\"" + kMarker + "\":3}";
    const size_t first = content.find(kMarker);
    const size_t second = content.find(kMarker, first + 1);
    const size_t third = content.find(kMarker, second + 1);
    ASSERT_TRUE(WriteBytes(cache_.path(), content));
    // Left by an edit whose process died.
    ASSERT_TRUE(WriteBytes(cache_.folder() + L"\\kvr7.tmp", "half"));
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesW(cache_.path().c_str(), hiddenSystem));

    EXPECT_TRUE(ModifyVRKSCache());
    EXPECT_EQ(hiddenSystem, ::GetFileAttributesW(cache_.path().c_str()) & (hiddenSystem | FILE_ATTRIBUTE_READONLY));

    std::string expected = content;
    expected[first] = expected[second] = expected[third] = 'a';
    const std::string written = ReadBytes(cache_.path());
    EXPECT_EQ(content.size(), written.size());
    EXPECT_EQ(expected, written);
    const std::wstring text = NewLog();
    for (size_t offset : {first, second, third}) {
        EXPECT_TRUE(Contains(text, L"MakePackagesToIgnoreThrottling: changing productDefinitionVersion at pos " +
                                       std::to_wstring(offset) + L"\r\n"))
            << offset << "\n" << testing::PrintToString(text);
    }
    EXPECT_EQ(3u, Count(text, L"changing productDefinitionVersion at pos"));
    EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: Modifying " + cache_.path())) << text;
    EXPECT_TRUE(Contains(text, L"WriteContentToFile: File written to disk: " + cache_.path())) << text;
    // The temporary file became the cache: nothing else is left beside it.
    EXPECT_EQ(std::vector<std::wstring>{L"packages"}, triggertest::FilesIn(cache_.folder()));
}

// Links and owners as the platform under test does not keep them: one
// component is a link, or one folder belongs to an ordinary user.
class SwappableFolder : public CacheFolderChecks {
public:
    std::wstring link;
    std::wstring userOwned;
    bool IsReachedThroughLink(const std::wstring& path) override {
        return path == link || CacheFolderChecks::IsReachedThroughLink(path);
    }
    bool ReadOwner(const std::wstring& path, kv::unique_hlocal& descriptor) override {
        if (path != userOwned) return CacheFolderChecks::ReadOwner(path, descriptor);
        return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:S-1-5-21-1-2-3-1001", SDDL_REVISION_1,
                                                                      descriptor.put(), nullptr) != FALSE;
    }
};

TEST_F(PackageCache, AFolderAnotherAccountMadeOrCanSwapIsRefused) {
    const std::wstring maker = testsupport::CommonAppData() + L"\\K-Vantor";
    // A link, or a folder of an ordinary user.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {maker, L""}, {cache_.folder(), L""}, {cache_.path(), L""}, {L"", maker}, {L"", cache_.folder()},
    };
    const std::string content = "{\"" + kMarker + "\":1}";
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteBytes(cache_.path(), content));
        SwappableFolder checks;
        checks.link = c.first;
        checks.userOwned = c.second;
        ScopedCacheFolderChecks scope(checks);
        const std::wstring refused = c.first + c.second;
        EXPECT_FALSE(ModifyVRKSCache()) << refused;
        EXPECT_EQ(content, ReadBytes(cache_.path())) << refused;
        const std::wstring text = NewLog();
        EXPECT_TRUE(Contains(text, L"CacheLocationIsSafe: " + refused + L" is")) << text;
        EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: " + cache_.path() + L" is not edited")) << text;
    }
}

TEST_F(PackageCache, CacheWithoutMarkerIsNotRewrittenAndStillSucceeds) {
    ASSERT_TRUE(WriteBytes(cache_.path(), "{\"packages\":[]}"));
    const FILETIME stamp = {0x12345678, 0x01D00000};
    {
        kv::unique_hfile file(::CreateFileW(cache_.path().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file && ::SetFileTime(file.get(), nullptr, nullptr, &stamp));
    }

    EXPECT_TRUE(ModifyVRKSCache());

    EXPECT_EQ("{\"packages\":[]}", ReadBytes(cache_.path()));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExW(cache_.path().c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(stamp.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(stamp.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
    const std::wstring text = NewLog();
    EXPECT_TRUE(Contains(text, L"MakePackagesToIgnoreThrottling: productDefinitionVersion was not found! Exiting"));
    EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: productDefinitionVersion was not found but don't fail because it "
                               L"will cause upgrade anyway"))
        << text;
    EXPECT_FALSE(Contains(text, L"File written to disk")) << text;
}

TEST_F(PackageCache, EmptyCacheFailsAsUnreadable) {
    ASSERT_TRUE(WriteBytes(cache_.path(), ""));
    EXPECT_FALSE(ModifyVRKSCache());
    const std::wstring text = NewLog();
    EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: Failed to read " + cache_.path())) << text;
}

TEST_F(PackageCache, MissingCacheFails) {
    EXPECT_FALSE(ModifyVRKSCache());
    EXPECT_FALSE(triggertest::Exists(cache_.path()));
    const std::wstring text = NewLog();
    EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: " + cache_.path() + L" does not exist")) << text;
}

TEST_F(PackageCache, ZeroBytesAndEverythingAfterThemSurviveTheRewrite) {
    const std::string content = std::string("head\0", 5) + kMarker + std::string("\0\0tail ", 7) + kMarker + "!";
    ASSERT_TRUE(WriteBytes(cache_.path(), content));

    EXPECT_TRUE(ModifyVRKSCache());

    std::string expected = content;
    expected[content.find(kMarker)] = 'a';
    expected[content.rfind(kMarker)] = 'a';
    EXPECT_EQ(expected, ReadBytes(cache_.path()));
}

TEST_F(PackageCache, CacheHeldLongerThanTheRetriesFailsAfterSixAttemptsUntouched) {
    const std::string content = "{\"" + kMarker + "\":1}";
    ASSERT_TRUE(WriteBytes(cache_.path(), content));
    {
        FileHolder holder(cache_.path(), 2000);
        ASSERT_TRUE(holder.holding());
        EXPECT_FALSE(ModifyVRKSCache());
    }
    EXPECT_EQ(content, ReadBytes(cache_.path()));
    const std::wstring text = NewLog();
    EXPECT_EQ(6u, Count(text, L"ReadTextFile: Cannot open " + cache_.path() + L" with error 32, sleeping a bit and retry"))
        << text;
    EXPECT_TRUE(Contains(text, L"ReadTextFile: Failed to open " + cache_.path() + L", exiting")) << text;
    EXPECT_TRUE(Contains(text, L"ModifyVRKSCache: Failed to read " + cache_.path())) << text;
}

TEST_F(PackageCache, CacheHeldBrieflyIsEditedAfterRetries) {
    ASSERT_TRUE(WriteBytes(cache_.path(), "{\"" + kMarker + "\":1}"));
    {
        FileHolder holder(cache_.path(), 250);
        ASSERT_TRUE(holder.holding());
        EXPECT_TRUE(ModifyVRKSCache());
    }
    EXPECT_EQ("{\"aroductDefinitionVersion\":1}", ReadBytes(cache_.path()));
    const std::wstring text = NewLog();
    const size_t retries = Count(text, L"sleeping a bit and retry");
    EXPECT_GE(retries, 1u) << text;
    EXPECT_LT(retries, 6u) << text;
    EXPECT_FALSE(Contains(text, L"Failed to open")) << text;
}

TEST_F(PackageCache, WriteThatCannotReplaceTheHeldCacheLeavesItsContent) {
    ASSERT_TRUE(WriteBytes(cache_.path(), "old content"));
    {
        FileHolder holder(cache_.path(), 2000);
        ASSERT_TRUE(holder.holding());
        EXPECT_FALSE(WriteContentToFile(cache_.path(), "new content"));
    }
    EXPECT_EQ("old content", ReadBytes(cache_.path()));
    EXPECT_EQ(std::vector<std::wstring>{L"packages"}, triggertest::FilesIn(cache_.folder()));
    const std::wstring text = NewLog();
    EXPECT_EQ(6u, Count(text, L"WriteContentToFile: Cannot open " + cache_.path() + L" for writing with error"))
        << text;
    EXPECT_TRUE(Contains(text, L"WriteContentToFile: Failed to open " + cache_.path() + L", exiting")) << text;
    EXPECT_FALSE(Contains(text, L"File written to disk")) << text;
}

TEST_F(PackageCache, WriteIntoAMissingFolderFailsAndCreatesNothing) {
    const std::wstring path = cache_.folder() + L"\\missing\\packages";
    EXPECT_FALSE(WriteContentToFile(path, "content"));
    EXPECT_FALSE(triggertest::Exists(cache_.folder() + L"\\missing"));
    EXPECT_TRUE(Contains(NewLog(), L"WriteContentToFile: Failed to open " + path + L", exiting"));
}

TEST_F(PackageCache, LargeBinaryContentRoundTripsWhole) {
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) % 251);
    ASSERT_TRUE(WriteContentToFile(cache_.path(), content));
    EXPECT_EQ(content, ReadBytes(cache_.path()));
    EXPECT_EQ(content, ReadTextFile(cache_.path()));
}

TEST_F(PackageCache, ReadingAMissingFileRetriesSixTimesAndGivesNothing) {
    EXPECT_EQ("", ReadTextFile(cache_.path()));
    const std::wstring text = NewLog();
    EXPECT_EQ(6u, Count(text, L"ReadTextFile: Cannot open " + cache_.path() + L" with error 2, sleeping a bit"))
        << text;
}

}  // namespace

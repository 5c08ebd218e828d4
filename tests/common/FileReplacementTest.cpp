// The one-step replacement on real files, with its steps watched or stopped
// one at a time: what a crash between two steps would leave is what the
// target holds when the next one begins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/FileReplacement.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

const DWORD kOwnBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

struct Snapshot {
    std::string bytes;
    DWORD attributes;
};

// Notes the target before and after every step, and fails the one named.
class WatchedSteps : public kv::ReplacementSteps {
public:
    WatchedSteps(std::wstring target, std::string failing) : target_(std::move(target)), failing_(std::move(failing)) {}

    std::vector<Snapshot> seen;
    std::vector<std::string> steps;

    DWORD MakeTemporary(const std::wstring& folder, std::wstring& path) override {
        return Run("MakeTemporary", [&] { return ReplacementSteps::MakeTemporary(folder, path); });
    }
    DWORD WriteContent(const std::wstring& temporary, const std::string& content) override {
        return Run("WriteContent", [&] { return ReplacementSteps::WriteContent(temporary, content); });
    }
    DWORD OpenTemporary(const std::wstring& temporary, kv::unique_hfile& file) override {
        return Run("OpenTemporary", [&] { return ReplacementSteps::OpenTemporary(temporary, file); });
    }
    DWORD Flush(HANDLE file) override { return Run("Flush", [&] { return ReplacementSteps::Flush(file); }); }
    DWORD CopySecurity(const std::wstring& target, HANDLE file, bool& kept) override {
        return Run("CopySecurity", [&] { return ReplacementSteps::CopySecurity(target, file, kept); });
    }
    DWORD CopyAttributes(DWORD attributes, HANDLE file) override {
        return Run("CopyAttributes", [&] { return ReplacementSteps::CopyAttributes(attributes, file); });
    }
    DWORD MoveOverTarget(HANDLE file, const std::wstring& target, bool replace) override {
        return Run("MoveOverTarget", [&] { return ReplacementSteps::MoveOverTarget(file, target, replace); });
    }

private:
    template <typename Step>
    DWORD Run(const char* name, Step step) {
        steps.push_back(name);
        Note();
        if (failing_ == name) return ERROR_WRITE_FAULT;
        const DWORD error = step();
        Note();
        return error;
    }
    void Note() { seen.push_back({ReadBytes(target_), ::GetFileAttributesW(target_.c_str()) & kOwnBits}); }

    std::wstring target_;
    std::string failing_;
};

std::vector<std::wstring> Leftovers(const TempFolder& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(folder.file(L"kvr*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
        names.push_back(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    return names;
}

DWORD Replace(const std::wstring& target, const std::string& content) {
    kv::FileReplacement replacement(target);
    if (const DWORD error = replacement.Prepare()) return error;
    if (const DWORD error = replacement.Write(content)) return error;
    return replacement.Commit();
}

TEST(FileReplacement, TheTargetHoldsTheOldOrTheWholeNewFileBetweenAnyTwoSteps) {
    const std::string old = "old content\r\n", fresh(300000, 'n');
    const DWORD bits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    const char* const failing[] = {"",      "MakeTemporary", "WriteContent",   "OpenTemporary",
                                   "Flush", "CopySecurity",  "CopyAttributes", "MoveOverTarget"};
    for (const char* step : failing) {
        TempFolder folder(L"replace");
        const std::wstring target = folder.file(L"hosts.bak");
        WriteBytes(target, old);
        ASSERT_TRUE(::SetFileAttributesW(target.c_str(), bits));
        WatchedSteps watched(target, step);
        {
            kv::ScopedReplacementSteps scope(watched);
            EXPECT_EQ(*step == '\0', Replace(target, fresh) == ERROR_SUCCESS) << step;
        }
        // A failed step is the last one taken; without one, all seven ran.
        EXPECT_EQ(*step ? std::string(step) : "MoveOverTarget", watched.steps.back());
        EXPECT_TRUE(*step || watched.steps.size() == 7u) << watched.steps.size();
        for (const Snapshot& snapshot : watched.seen) {
            EXPECT_TRUE(snapshot.bytes == old || snapshot.bytes == fresh) << step << " " << snapshot.bytes.size();
            EXPECT_EQ(bits, snapshot.attributes) << step;
        }
        EXPECT_EQ(*step ? old : fresh, ReadBytes(target)) << step;
        EXPECT_EQ(bits, ::GetFileAttributesW(target.c_str()) & kOwnBits) << step;
        EXPECT_TRUE(Leftovers(folder).empty()) << step;
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(FileReplacement, LeftoversOfADeadReplacementAreRemovedAndNothingElse) {
    TempFolder folder(L"leftovers");
    WriteBytes(folder.file(L"kvr1A2B.tmp"), "half");
    WriteBytes(folder.file(L"kvrFF.tmp"), "whole");
    ASSERT_TRUE(::SetFileAttributesW(folder.file(L"kvrFF.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::CreateDirectoryW(folder.file(L"kvrdir.tmp").c_str(), nullptr));
    WriteBytes(folder.file(L"other.tmp"), "not ours");
    WriteBytes(folder.file(L"hosts"), "kept");

    EXPECT_EQ(2u, kv::FileReplacement::RemoveLeftovers(folder.path()));

    EXPECT_EQ(std::vector<std::wstring>{L"kvrdir.tmp"}, Leftovers(folder));
    EXPECT_EQ("not ours", ReadBytes(folder.file(L"other.tmp")));
    EXPECT_EQ("kept", ReadBytes(folder.file(L"hosts")));
}

}  // namespace

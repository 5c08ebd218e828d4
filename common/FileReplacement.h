#pragma once
// Replaces a file's content in one step. The new content goes into a
// temporary file in the same folder and is flushed; the temporary file then
// takes the target's owner, access list and attributes and is renamed over
// the target in one atomic rename. So at every instant, a crash included,
// the target's name holds either the former bytes or all of the new ones,
// each with the file's own security and attributes. Any failure leaves the
// file as it was; the temporary file never outlives the object, and one
// left by a process that died is removed by RemoveLeftovers.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

namespace kv {

// The steps of a replacement, replaceable as a whole so that a test can
// stop or watch a replacement between any two of them. Each gives 0 or the
// Win32 error. The real program always uses this table itself.
class ReplacementSteps {
public:
    virtual ~ReplacementSteps() = default;
    // A fresh, empty, uniquely named file in the folder.
    virtual DWORD MakeTemporary(const std::wstring& folder, std::wstring& path);
    virtual DWORD WriteContent(const std::wstring& temporary, const std::string& content);
    // The handle that finishes the replacement: it keeps every right the
    // remaining steps need, whatever access list the file is given.
    virtual DWORD OpenTemporary(const std::wstring& temporary, unique_hfile& file);
    virtual DWORD Flush(HANDLE file);
    // The target's access list and owner onto the temporary file. An owner
    // that cannot be written is no failure: ownerKept says so.
    virtual DWORD CopySecurity(const std::wstring& target, HANDLE file, bool& ownerKept);
    virtual DWORD CopyAttributes(DWORD targetAttributes, HANDLE file);
    // The one step that changes what the target's name holds.
    virtual DWORD MoveOverTarget(HANDLE file, const std::wstring& target, bool replace);
};

// The table in use: the real one unless a ScopedReplacementSteps replaces it.
ReplacementSteps& CurrentReplacementSteps();

// Puts another table in place for the lifetime of this object (tests only).
class ScopedReplacementSteps {
public:
    explicit ScopedReplacementSteps(ReplacementSteps& steps);
    ~ScopedReplacementSteps();
    ScopedReplacementSteps(const ScopedReplacementSteps&) = delete;
    ScopedReplacementSteps& operator=(const ScopedReplacementSteps&) = delete;

private:
    ReplacementSteps* previous_;
};

class FileReplacement {
public:
    explicit FileReplacement(std::wstring target);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Makes the empty temporary file beside the target. 0 or the Win32 error.
    DWORD Prepare();
    // Where the new content is to be written, once prepared.
    const std::wstring& TemporaryPath() const { return temporary_; }
    // Writes the whole byte content into the temporary file. 0 or the error.
    DWORD Write(const std::string& content);
    // Flushes the temporary file and renames it over the target; a target
    // that does not exist yet is simply created. 0 or the Win32 error; the
    // temporary file stays for another attempt until the object goes.
    DWORD Commit();
    // The step that failed last, for the caller's log line.
    const wchar_t* FailedCall() const { return failedCall_; }
    // False when the content was replaced but the former owner could not be
    // given to it (the replacement then carries the owner of its maker).
    bool OwnerKept() const { return ownerKept_; }

    // Removes the temporary files that a replacement in the folder left
    // when its process died; gives how many were removed. Only for folders
    // that none but administrators can write.
    static unsigned RemoveLeftovers(const std::wstring& folder);

private:
    DWORD Fail(const wchar_t* step, DWORD error);
    DWORD Finish(HANDLE file, DWORD targetAttributes);
    void RemoveTemporary();

    std::wstring target_;
    std::wstring folder_;
    std::wstring temporary_;
    const wchar_t* failedCall_ = L"";
    bool ownerKept_ = true;
};

}  // namespace kv

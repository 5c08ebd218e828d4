#pragma once
// Replaces a file's content in one step. The new content goes into a
// temporary file in the same folder, is flushed, and then takes the file's
// place through ReplaceFileW, so that the file keeps its own access list,
// owner and attributes and is never seen half written. Any failure leaves
// the file as it was; the temporary file never outlives the object.
#include <windows.h>

#include <string>

namespace kv {

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
    // Flushes the temporary file and puts it in the target's place; a target
    // that does not exist yet is simply created. 0 or the Win32 error; the
    // temporary file stays for another attempt until the object goes.
    DWORD Commit();
    // The system call that failed last, for the caller's log line.
    const wchar_t* FailedCall() const { return failedCall_; }
    // False when the content was replaced but the former owner could not be
    // put back (the replacement then carries the owner of its maker).
    bool OwnerKept() const { return ownerKept_; }
    // Where the former content stands when a failed replacement could not
    // move it back to the target's name; empty otherwise. That file is left
    // in place for whoever recovers it.
    const std::wstring& FormerContentPath() const { return formerContent_; }

private:
    DWORD Fail(const wchar_t* call, DWORD error);
    DWORD Flush();
    DWORD Swap();
    void KeepAttributes(DWORD before);
    void KeepOwner(PSECURITY_DESCRIPTOR before);
    void RemoveQuietly(std::wstring& path);

    std::wstring target_;
    std::wstring folder_;
    std::wstring temporary_;
    std::wstring backup_;
    std::wstring formerContent_;
    const wchar_t* failedCall_ = L"";
    bool ownerKept_ = true;
};

}  // namespace kv

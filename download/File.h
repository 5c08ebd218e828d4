#pragma once
// The local destination of a download and its 4-byte size metafile
// ("<path>.dl", the expected full size as a little-endian 32-bit number),
// which together make a download resumable across runs.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

namespace QmtDownload {

class File {
public:
    static constexpr DWORD kNoSize = 0xFFFFFFFF;

    // Nothing is opened yet. The attributes are used for the destination and
    // the metafile and must outlive the File.
    File(const wchar_t* path, SECURITY_ATTRIBUTES* security);
    // Writes into an empty file the caller created and opened for writing
    // (the File owns the handle): a fresh download that never resumes, and
    // never reads or writes a metafile beside it.
    struct Created {
        HANDLE handle;
    };
    File(const wchar_t* path, Created created);
    ~File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens and measures the destination only when it exists; 0 or a Win32 error.
    DWORD OpenIfExists();
    // Opens (creating when needed) and measures; 0 or a Win32 error.
    DWORD EnsureOpen();
    // Empties the file and sets the expected size; 0 or a Win32 error.
    DWORD Reset(DWORD expected);
    // Appends; 0 or a Win32 error.
    DWORD WriteData(const void* data, DWORD count);
    // Settles the metafile (removed when complete, written otherwise) and closes.
    void FinishWriting(bool success);
    // Records the expected size in the metafile while the file is incomplete,
    // so that a run that ends abruptly can still be resumed.
    void MarkIncomplete();
    // The destination's last-write time; zero when not open or not readable.
    FILETIME GetLastModified() const;

    bool IsComplete() const { return currentSize_ == expectedSize_; }
    bool isFresh() const { return fresh_; }
    void SetExpectedSize(DWORD expected) { expectedSize_ = expected; }
    bool isOpen() const { return static_cast<bool>(handle_); }
    DWORD expectedSize() const { return expectedSize_; }
    DWORD currentSize() const { return currentSize_; }
    DWORD sessionBytes() const { return sessionBytes_; }
    const wchar_t* path() const { return path_.c_str(); }

private:
    DWORD CalculateSizes();
    DWORD SeekToEnd();
    DWORD TruncateFile();
    DWORD GetSizeFromMetafile() const;
    void SetSizeToMetaFile(DWORD size) const;
    void DeleteMetaFile() const;

    std::wstring path_;
    std::wstring metaPath_;
    SECURITY_ATTRIBUTES* security_;
    DWORD expectedSize_ = kNoSize;
    DWORD currentSize_ = kNoSize;
    DWORD sessionBytes_ = 0;
    kv::unique_hfile handle_;
    bool fresh_ = false;
};

// True when a local file written at localTime is older than the server's
// Last-Modified time; false when either is missing. Both are UTC.
bool IsOlder(const SYSTEMTIME& serverTime, const FILETIME& localTime);

// True when the path names an existing file (not a directory).
bool FileExists(const wchar_t* path);

}  // namespace QmtDownload

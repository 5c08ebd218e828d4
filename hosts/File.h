#pragma once
// A text file handled as a list of lines, and its attribute bits.
#include <windows.h>

#include <string>

#include "hosts/FileReaderWriter.h"

class File {
public:
    explicit File(std::wstring path) : path_(std::move(path)) {}

    const std::wstring& path() const { return path_; }

    // 0 when the whole file was read, else the code of FileReaderWriter::read.
    // The file is opened with full sharing, and not while another process
    // holds an opportunistic lock whose break it would have to wait for.
    int content(LineList& lines) const;

    // Creates or truncates the file: 0 when all lines were written, else the
    // code of FileReaderWriter::write.
    int setContent(const LineList& lines) const;

    // False when the attributes cannot be read.
    bool hasAttribute(DWORD bit) const;
    // Sets (on) or clears one bit and keeps the others.
    bool setAttribute(bool on, DWORD bit) const;

private:
    // Reads the open file from its start.
    bool hasTextAfterEndOfFileMark(HANDLE file) const;

    std::wstring path_;
};

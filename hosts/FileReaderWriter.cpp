#include "hosts/FileReaderWriter.h"

#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

int FileReaderWriter::read(LineList& lines) {
    const wchar_t* const kFunction = L"FileReaderWriter::read";
    if (!stream_.is_open()) {
        LogMessage(KvQmtLogging::LogError, L"%s: File is not opened!", kFunction);
        return 1;
    }
    if (!stream_.good()) {
        LogMessage(KvQmtLogging::LogError, L"%s: Stream is not good!", kFunction);
        return 1;
    }
    std::wstring line;
    while (!stream_.eof()) {
        line.clear();
        std::getline(stream_, line);
        // Also the empty read at the very end: it stands for the final
        // terminator (or the empty file) and gives it back on writing.
        lines.push_back(line);
        if ((stream_.fail() || stream_.bad()) && !stream_.eof()) {
            LogMessage(KvQmtLogging::LogError, L"%s: Reading from file has failed!", kFunction);
            return 2;
        }
    }
    return 0;
}

int FileReaderWriter::write(const LineList& lines) {
    const wchar_t* const kFunction = L"FileReaderWriter::write";
    if (!stream_.is_open() || !stream_.good()) {
        LogMessage(KvQmtLogging::LogError, L"%s: File is not opened!", kFunction);
        return 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        stream_ << lines[i];
        if (i + 1 < lines.size()) stream_ << L'\n';
        // Flushed after the last line too: a unit without a byte shows only
        // when the buffer is converted, and must not pass for a success.
        stream_.flush();
        if (stream_.fail() || stream_.bad()) {
            LogMessage(KvQmtLogging::LogError, L"%s: Writing to file has failed!", kFunction);
            return 3;
        }
    }
    return 0;
}

#pragma once
// Runs downloads to their end for the tests and looks at what they left:
// files, metafiles, summary lines.
#include <windows.h>

#include <string>
#include <vector>

#include "download/Downloader.h"
#include "tests/support/CheckedWrites.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace DownloadTesting {

// What the callback of one start saw.
struct Outcome {
    DWORD result = 0xFFFFFFFF;
    DWORD flags = 0;
    int finishedCalls = 0;
    int progressCalls = 0;
    DWORD lastProgressSize = 0;
    bool finishedBeforeStartReturned = false;
    bool timedOut = false;
};

// Starts the download, waits (at most timeoutMs) for its end, and gives what
// the callback saw once the Downloader can no longer call it.
Outcome RunToEnd(QmtDownload::Downloader& downloader, const std::wstring& path, DWORD timeoutMs = 30000);
// The same with a Downloader made for the URL and destroyed afterwards: any
// late second end would be counted before this returns.
Outcome Download(const std::wstring& url, const std::wstring& path, DWORD timeoutMs = 30000);

using testsupport::Exists;
using testsupport::TempFolder;
using testsupport::bytes::ReadBytes;
using testsupport::bytes::WriteBytes;

void WriteMetafile(const std::wstring& path, DWORD expected);
// The value in "<path>.dl", or none when it is missing or not 4 bytes long.
bool ReadMetafile(const std::wstring& path, DWORD& expected);
// Makes the file's last write time one day before now or after now.
void SetWriteTime(const std::wstring& path, bool future);

// Lines of the download summary log that contain the text.
std::vector<std::wstring> SummaryLines(const std::wstring& containing);

std::wstring Widen(const std::string& text);

}  // namespace DownloadTesting

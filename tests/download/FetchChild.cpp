// Downloads one URL into one file and exits with the download's result code:
//   download_fetch_child.exe <url> <path>
// The interruption test starts it and terminates it mid-transfer.
#include <windows.h>

#include <cstdio>

#include "download/Downloader.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"

namespace {

struct Completion {
    HANDLE done;
    DWORD result;
};

void OnDownload(void* context, DWORD kind, DWORD first, DWORD) {
    if (kind != QmtDownload::DownloadFinished) return;
    auto* completion = static_cast<Completion*>(context);
    completion->result = first;
    ::SetEvent(completion->done);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_fetch_child <url> <path>\n");
        return 100;
    }
    KvQmtLogging::GetLogger().Configure(0, L"Test", L"download_fetch_child");
    Completion completion{::CreateEventW(nullptr, TRUE, FALSE, nullptr), 0xFFFFFFFF};
    QmtDownload::Downloader downloader(argv[1]);
    downloader.Start(argv[2], &OnDownload, &completion, nullptr);
    ::WaitForSingleObject(completion.done, INFINITE);
    std::printf("result %lu\n", completion.result);
    return static_cast<int>(completion.result);
}

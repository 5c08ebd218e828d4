// Downloads a 256 MiB file from the local test server into a file, like with
// like: through the engine, through a plain synchronous WinINet loop
// (InternetOpenUrlW + InternetReadFile) with the same read size, at 64 KiB and
// 1 MiB reads, and with native curl; then resumes a 90 % complete copy:
//   download_bench.exe [size in MiB]
// Under Wine it starts the server (a Unix process) itself unless
// KV_TEST_HTTP_PORT names a running one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wininet.h>

#include "download/Downloader.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"
#include "tests/support/TestServer.h"

using DownloadTesting::TestServer;

namespace {

struct Completion {
    HANDLE done = nullptr;
    DWORD result = 0xFFFFFFFF;
    DWORD firstProgress = 0xFFFFFFFF;
    DWORD lastProgress = 0;
};

void OnDownload(void* context, DWORD kind, DWORD first, DWORD) {
    auto* completion = static_cast<Completion*>(context);
    if (kind == QmtDownload::DownloadProgress) {
        if (completion->firstProgress == 0xFFFFFFFF) completion->firstProgress = first;
        completion->lastProgress = first;
        return;
    }
    completion->result = first;
    ::SetEvent(completion->done);
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

// Starts a Unix program (Wine runs non-Windows executables natively).
bool RunUnix(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    if (process.hProcess) {
        ::WaitForSingleObject(process.hProcess, 120000);
        ::CloseHandle(process.hProcess);
    }
    if (process.hThread) ::CloseHandle(process.hThread);
    return true;
}

bool StartServer() {
    if (TestServer::Available()) return true;
    const std::wstring portFile = L"/tmp/kv-download-bench-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring windowsPortFile = L"Z:" + portFile;
    ::DeleteFileW(windowsPortFile.c_str());
    std::string script = KV_HTTP_SERVER_SCRIPT;
    const std::wstring command = L"/usr/bin/env python3 " + std::wstring(script.begin(), script.end()) +
                                 L" --port-file " + portFile + L" --max-seconds 900";
    // Started in the background: env returns at once through Wine's fork.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = L"Z:\\usr\\bin\\env " + command.substr(std::wstring(L"/usr/bin/env ").size());
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start the test server (error %lu)\n", ::GetLastError());
        return false;
    }
    if (process.hProcess) ::CloseHandle(process.hProcess);
    if (process.hThread) ::CloseHandle(process.hThread);
    for (int i = 0; i < 100; ++i) {
        FILE* file = _wfopen(windowsPortFile.c_str(), L"r");
        unsigned origin = 0, proxy = 0, closed = 0;
        if (file) {
            const int n = std::fscanf(file, "%u %u %u", &origin, &proxy, &closed);
            std::fclose(file);
            if (n == 3) {
                char value[32];
                std::snprintf(value, sizeof(value), "%u", origin);
                _putenv_s("KV_TEST_HTTP_PORT", value);
                ::DeleteFileW(windowsPortFile.c_str());
                return true;
            }
        }
        ::Sleep(100);
    }
    std::fprintf(stderr, "the test server did not report its ports\n");
    return false;
}

struct EngineRun {
    DWORD result;
    double seconds;
    double cpuSeconds;
    DWORD transferred;
};

EngineRun RunEngine(const std::wstring& url, const std::wstring& path,
                    DWORD readSize = QmtDownload::Downloader::kBufferSize) {
    Completion completion;
    completion.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QmtDownload::Downloader downloader(url.c_str(), QmtDownload::Downloader::kDefaultStallLimitMs, 0, readSize);
    const double cpuBefore = ProcessCpuSeconds();
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    downloader.Start(path.c_str(), &OnDownload, &completion, nullptr);
    ::WaitForSingleObject(completion.done, INFINITE);
    ::QueryPerformanceCounter(&end);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    ::CloseHandle(completion.done);
    const DWORD transferred =
        completion.firstProgress == 0xFFFFFFFF ? 0 : completion.lastProgress - completion.firstProgress;
    return {completion.result, Seconds(start, end), cpu, transferred};
}

// The plainest WinINet download: synchronous, one read of readSize at a
// time, each written to the file at once. Seconds, or a negative number when
// it failed.
double RunPlainLoop(const std::wstring& url, const std::wstring& path, DWORD readSize, DWORD size) {
    HINTERNET session = ::InternetOpenW(L"KvQmtDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) return -1;
    std::vector<BYTE> buffer(readSize);
    DWORD total = 0;
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    HINTERNET request = ::InternetOpenUrlW(session, url.c_str(), nullptr, 0,
                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    bool ok = file != INVALID_HANDLE_VALUE && request != nullptr;
    DWORD read = 0;
    while (ok && ::InternetReadFile(request, buffer.data(), readSize, &read) && read > 0) {
        DWORD written = 0;
        ok = ::WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
        total += read;
    }
    if (request) ::InternetCloseHandle(request);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    ::QueryPerformanceCounter(&end);
    ::InternetCloseHandle(session);
    return ok && total == size ? Seconds(start, end) : -1;
}

// Native curl writing the same file to disk; seconds, or negative.
double RunCurl(const std::wstring& url, DWORD size) {
    const std::wstring base = L"/tmp/kv-download-bench-curl-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring figures = base + L".txt";
    if (!RunUnix(L"Z:\\bin\\sh -c \"curl -s -o " + base + L".bin -w '%{size_download} %{time_total}' " + url +
                 L" > " + figures + L".tmp && mv " + figures + L".tmp " + figures + L"; rm -f " + base + L".bin\"")) {
        return -1;
    }
    // Wine does not wait for a Unix process: wait for its figures instead.
    const std::wstring windowsFigures = L"Z:" + figures;
    for (int i = 0; i < 1200 && ::GetFileAttributesW(windowsFigures.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(100);
    }
    double bytes = 0, seconds = -1;
    if (FILE* file = _wfopen(windowsFigures.c_str(), L"r")) {
        if (std::fscanf(file, "%lf %lf", &bytes, &seconds) != 2) seconds = -1;
        std::fclose(file);
        ::DeleteFileW(windowsFigures.c_str());
    }
    return bytes == size ? seconds : -1;
}

// A copy holding the first `keep` bytes, with a metafile announcing `size`.
void CutToPartial(const std::wstring& path, DWORD keep, DWORD size) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = keep;
    ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file);
    ::CloseHandle(file);
    HANDLE meta = ::CreateFileW((path + L".dl").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(meta, &size, sizeof(size), &written, nullptr);
    ::CloseHandle(meta);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const unsigned mib = argc > 1 ? static_cast<unsigned>(_wtoi(argv[1])) : 256;
    const DWORD size = mib * 1024u * 1024u;
    KvQmtLogging::GetLogger().Configure(0, L"Bench", L"download_bench");
    const bool startedServer = !TestServer::Available();
    if (!StartServer()) return 1;
    char resource[160];
    std::snprintf(resource, sizeof(resource), "{\"path\": \"/bench.bin\", \"size\": %lu, \"seed\": 7}", size);
    TestServer::AddResource(resource);
    const std::wstring url = TestServer::Url("/bench.bin");

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"kv-download-bench.bin";
    ::DeleteFileW(path.c_str());
    ::DeleteFileW((path + L".dl").c_str());
    const auto mbs = [size](double seconds) { return seconds > 0 ? size / 1e6 / seconds : 0.0; };

    std::printf("file: %u MiB from 127.0.0.1, each written to a file; best of two runs\n", mib);
    double curlSeconds = RunCurl(url, size);
    const double curlAgain = RunCurl(url, size);
    if (curlAgain > 0 && (curlSeconds <= 0 || curlAgain < curlSeconds)) curlSeconds = curlAgain;
    if (curlSeconds > 0) {
        std::printf("curl:  %.1f MB/s\n", mbs(curlSeconds));
    } else {
        std::printf("curl:  not measured\n");
    }
    bool engineOk = true;
    for (const DWORD readSize : {QmtDownload::Downloader::kBufferSize, static_cast<DWORD>(1024 * 1024)}) {
        double engineBest = 0, plainBest = 0, cpu = 0;
        for (int run = 0; run < 2; ++run) {
            ::DeleteFileW(path.c_str());
            const EngineRun engine = RunEngine(url, path, readSize);
            engineOk = engineOk && engine.result == 0;
            if (engine.result == 0 && (engineBest == 0 || engine.seconds < engineBest)) {
                engineBest = engine.seconds;
                cpu = engine.cpuSeconds;
            }
            const double plain = RunPlainLoop(url, path, readSize, size);
            if (plain > 0 && (plainBest == 0 || plain < plainBest)) plainBest = plain;
        }
        std::printf("reads of %lu bytes:\n", readSize);
        std::printf("  engine:     %.1f MB/s (CPU %.2f s)\n", mbs(engineBest), cpu);
        std::printf("  plain loop: %.1f MB/s\n", mbs(plainBest));
        if (engineBest > 0 && plainBest > 0) {
            std::printf("  engine/plain loop: %.2f\n", mbs(engineBest) / mbs(plainBest));
        }
        if (engineBest > 0 && curlSeconds > 0) std::printf("  engine/curl: %.2f\n", mbs(engineBest) / mbs(curlSeconds));
    }
    ::DeleteFileW(path.c_str());
    const EngineRun full = RunEngine(url, path);

    const DWORD keep = static_cast<DWORD>(size * 0.9);
    CutToPartial(path, keep, size);
    const EngineRun resume = RunEngine(url, path);
    std::printf("resume of a 90%% copy: result %lu, %lu bytes transferred (%lu missing), %.2f s\n", resume.result,
                resume.transferred, size - keep, resume.seconds);

    ::DeleteFileW(path.c_str());
    ::DeleteFileW((path + L".dl").c_str());
    if (startedServer) {
        try {
            TestServer::Quit();
        } catch (...) {
            // It ends by itself after its time-out.
        }
    }
    return engineOk && full.result == 0 && resume.result == 0 ? 0 : 2;
}

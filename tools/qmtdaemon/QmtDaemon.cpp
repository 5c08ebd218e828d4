// Stand-in of the product's daemon, for tests and the demo: listens on the
// named pipe "\\.\pipe\<target>" for messages from the stand-in IPC library
// (tools/qmtipc) and records each one.
//
//   qmtdaemon.exe --record FILE [--target NAME] [--ready FILE]
//                 [--max-messages N] [--timeout SECONDS]
//   qmtdaemon.exe --stop [--target NAME]
//
//   --record FILE     every message is appended to FILE as one UTF-8 line
//                     (and printed on standard output):
//                       target=<target> code=<code> length=<payload bytes> reserved=<last argument> payload=<text>
//                     the payload decoded as UTF-16 (whole units) to UTF-8.
//                     A message is on disk before the sender is told it was
//                     taken. Required when listening.
//   --target NAME     the pipe and target name; default KV_OVS_IPC_DAEMON_USER.
//   --ready FILE      removed at start, written ("listening") once the pipe
//                     accepts senders: wait for it before sending.
//   --max-messages N  ends after N recorded messages (default 0: no limit).
//   --timeout S       ends after S seconds in any case (default 600; 0: never).
//   --stop            ends the daemon listening for NAME (exit 0), or exits 1
//                     when none runs. The same can be done from a program by
//                     setting the manual-reset event named
//                     "Local\KvQmtDaemonStop_<target>".
//
// Exit codes: 0 ended normally (stop, message count or timeout), 1 --stop
// found no daemon, 2 bad command line, 3 cannot listen (another daemon for
// the same target runs), 4 the record file cannot be written.
//
// From bash:  wine qmtdaemon.exe --record r.txt --ready ready.txt & pid=$!
//             while [ ! -f ready.txt ]; do sleep 0.1; done ... ; wine qmtdaemon.exe --stop; wait $pid
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/qmtipc/QmtIpcWire.h"

namespace {

constexpr const wchar_t* kDefaultTarget = L"KV_OVS_IPC_DAEMON_USER";

class Handle {
public:
    explicit Handle(HANDLE value = nullptr) : value_(value) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) ::CloseHandle(value_);
    }
    HANDLE get() const { return value_; }
    bool valid() const { return value_ && value_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE value_;
};

struct Options {
    std::wstring target = kDefaultTarget;
    std::wstring recordPath;
    std::wstring readyPath;
    unsigned long maxMessages = 0;
    unsigned long timeoutSeconds = 600;
    bool stop = false;
};

std::string Utf8(const wchar_t* text, int units) {
    if (units <= 0) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], size, nullptr, nullptr);
    return out;
}

bool ParseNumber(const wchar_t* text, unsigned long& value) {
    wchar_t* end = nullptr;
    value = wcstoul(text, &end, 10);
    return end && end != text && *end == L'\0';
}

bool Parse(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--stop") {
            options.stop = true;
        } else if (arg == L"--target" && hasValue) {
            options.target = argv[++i];
        } else if (arg == L"--record" && hasValue) {
            options.recordPath = argv[++i];
        } else if (arg == L"--ready" && hasValue) {
            options.readyPath = argv[++i];
        } else if (arg == L"--max-messages" && hasValue) {
            if (!ParseNumber(argv[++i], options.maxMessages)) return false;
        } else if (arg == L"--timeout" && hasValue) {
            if (!ParseNumber(argv[++i], options.timeoutSeconds)) return false;
        } else {
            return false;
        }
    }
    return !options.target.empty() && options.target.size() <= qmtipc::kMaxTargetLength &&
           (options.stop || !options.recordPath.empty());
}

std::wstring StopEventName(const std::wstring& target) { return L"Local\\KvQmtDaemonStop_" + target; }

bool AppendLine(const std::wstring& path, const std::string& line) {
    Handle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size() && ::FlushFileBuffers(file.get());
}

// Waits for one overlapped operation, giving up at the time limit or when
// the daemon is told to stop. 0, or the error.
DWORD Finish(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stopEvent, DWORD timeoutMs, DWORD* moved) {
    const HANDLE waits[] = {overlapped.hEvent, stopEvent};
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (woke != WAIT_OBJECT_0) {
        ::CancelIo(pipe);
        DWORD ignored = 0;
        ::GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        return woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : ERROR_SEM_TIMEOUT;
    }
    DWORD count = 0;
    if (!::GetOverlappedResult(pipe, &overlapped, &count, FALSE)) return ::GetLastError();
    if (moved) *moved = count;
    return 0;
}

DWORD Transfer(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent, bool write, void* buffer, DWORD size) {
    DWORD offset = 0;
    while (offset < size) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent;
        ::ResetEvent(ioEvent);
        char* at = static_cast<char*>(buffer) + offset;
        const BOOL started = write ? ::WriteFile(pipe, at, size - offset, nullptr, &overlapped)
                                   : ::ReadFile(pipe, at, size - offset, nullptr, &overlapped);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return ::GetLastError();
        DWORD moved = 0;
        const DWORD error = Finish(pipe, overlapped, stopEvent, qmtipc::kIoTimeoutMs, &moved);
        if (error != 0) return error;
        if (moved == 0) return ERROR_BROKEN_PIPE;
        offset += moved;
    }
    return 0;
}

// Reads one message from a connected sender, records it and answers with
// the status; false when the connection broke before the answer went out.
bool Serve(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent, const Options& options, bool& recorded) {
    recorded = false;
    qmtipc::MessageHeader header{};
    DWORD error = Transfer(pipe, ioEvent, stopEvent, false, &header, sizeof(header));
    if (error != 0) {
        fprintf(stderr, "qmtdaemon: reading a message header failed with error %lu\n", error);
        return false;
    }
    uint32_t status = qmtipc::kStatusTaken;
    std::vector<char> body;
    if (header.magic != qmtipc::kMessageMagic || header.targetLength == 0 ||
        header.targetLength > qmtipc::kMaxTargetLength || header.payloadLength > qmtipc::kMaxPayloadLength) {
        fprintf(stderr, "qmtdaemon: refused a malformed message\n");
        status = qmtipc::kStatusRejected;
    } else {
        body.resize(header.targetLength + header.payloadLength);
        error = Transfer(pipe, ioEvent, stopEvent, false, body.data(), static_cast<DWORD>(body.size()));
        if (error != 0) {
            fprintf(stderr, "qmtdaemon: reading a message body failed with error %lu\n", error);
            return false;
        }
        const std::string target(body.data(), header.targetLength);
        std::vector<wchar_t> units(header.payloadLength / sizeof(wchar_t));
        if (!units.empty()) memcpy(units.data(), body.data() + header.targetLength, units.size() * sizeof(wchar_t));
        char numbers[128];
        _snprintf(numbers, sizeof(numbers), " code=%u length=%u reserved=%u payload=", header.code,
                  header.payloadLength, header.reserved);
        numbers[sizeof(numbers) - 1] = '\0';
        const std::string line = "target=" + target + numbers +
                                 Utf8(units.data(), static_cast<int>(units.size())) + "\n";
        fputs(line.c_str(), stdout);
        fflush(stdout);
        if (AppendLine(options.recordPath, line)) {
            recorded = true;
        } else {
            fprintf(stderr, "qmtdaemon: cannot append to the record file, error %lu\n", ::GetLastError());
            status = qmtipc::kStatusRejected;
        }
    }
    error = Transfer(pipe, ioEvent, stopEvent, true, &status, sizeof(status));
    if (error != 0) return false;
    // Disconnecting discards what the sender has not read yet: wait until it
    // has read the status and closed its end.
    char extra = 0;
    Transfer(pipe, ioEvent, stopEvent, false, &extra, 1);
    return true;
}

int Stop(const Options& options) {
    Handle stopEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName(options.target).c_str()));
    if (!stopEvent.valid()) {
        fwprintf(stderr, L"qmtdaemon: no daemon listens for %ls\n", options.target.c_str());
        return 1;
    }
    ::SetEvent(stopEvent.get());
    return 0;
}

int Listen(const Options& options) {
    if (!options.readyPath.empty()) ::DeleteFileW(options.readyPath.c_str());
    Handle stopEvent(::CreateEventW(nullptr, TRUE, FALSE, StopEventName(options.target).c_str()));
    if (!stopEvent.valid() || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        fwprintf(stderr, L"qmtdaemon: another daemon listens for %ls\n", options.target.c_str());
        return 3;
    }
    const std::wstring pipeName = L"\\\\.\\pipe\\" + options.target;
    Handle pipe(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                         FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    if (!pipe.valid()) {
        fwprintf(stderr, L"qmtdaemon: CreateNamedPipeW(%ls) failed with error %lu\n", pipeName.c_str(),
                 ::GetLastError());
        return 3;
    }
    Handle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ioEvent.valid()) return 3;

    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG limitMs = static_cast<ULONGLONG>(options.timeoutSeconds) * 1000;
    unsigned long messages = 0;
    bool announced = false;
    fwprintf(stdout, L"qmtdaemon: listening on %ls\n", pipeName.c_str());
    fflush(stdout);
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent.get();
        ::ResetEvent(ioEvent.get());
        bool connected = ::ConnectNamedPipe(pipe.get(), &overlapped) != 0;
        const DWORD connectError = connected ? 0 : ::GetLastError();
        if (!announced && !options.readyPath.empty()) {
            // Senders are accepted from here on, before as well as during the wait.
            if (!AppendLine(options.readyPath, "listening\n")) {
                fprintf(stderr, "qmtdaemon: cannot write the ready marker\n");
                return 4;
            }
        }
        announced = true;
        if (!connected && connectError == ERROR_PIPE_CONNECTED) {
            connected = true;
        } else if (!connected && connectError == ERROR_IO_PENDING) {
            DWORD waitMs = INFINITE;
            if (limitMs > 0) {
                const ULONGLONG elapsed = ::GetTickCount64() - start;
                if (elapsed >= limitMs) break;
                waitMs = static_cast<DWORD>(limitMs - elapsed);
            }
            const DWORD error = Finish(pipe.get(), overlapped, stopEvent.get(), waitMs, nullptr);
            if (error == ERROR_OPERATION_ABORTED || error == ERROR_SEM_TIMEOUT) break;
            connected = error == 0;
        }
        if (!connected) {
            fprintf(stderr, "qmtdaemon: ConnectNamedPipe failed with error %lu\n", connectError);
            ::DisconnectNamedPipe(pipe.get());
            continue;
        }
        bool recorded = false;
        Serve(pipe.get(), ioEvent.get(), stopEvent.get(), options, recorded);
        ::DisconnectNamedPipe(pipe.get());
        if (recorded) ++messages;
        if (options.maxMessages > 0 && messages >= options.maxMessages) break;
        if (::WaitForSingleObject(stopEvent.get(), 0) == WAIT_OBJECT_0) break;
    }
    fprintf(stdout, "qmtdaemon: stopped after %lu messages\n", messages);
    fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        fputs("usage: qmtdaemon --record FILE [--target NAME] [--ready FILE] [--max-messages N] [--timeout S]\n"
              "       qmtdaemon --stop [--target NAME]\n",
              stderr);
        return 2;
    }
    return options.stop ? Stop(options) : Listen(options);
}

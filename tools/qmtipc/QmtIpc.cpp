// A stand-in of the product's IPC library for tests and the demo. It exports
// the two entries the upgrade tool links by their plain names, and passes
// each message over a named pipe named after the target to whoever listens
// there (tools/qmtdaemon). QMTIPCSendMessage returns 0 once the listener has
// recorded the message, otherwise a Win32 error code: ERROR_FILE_NOT_FOUND
// when nothing listens, ERROR_SEM_TIMEOUT when the listener does not answer,
// ERROR_INVALID_PARAMETER for a missing target or payload,
// ERROR_INVALID_DATA when the listener refused the message.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/qmtipc/QmtIpcWire.h"

namespace {

class Handle {
public:
    explicit Handle(HANDLE value) : value_(value) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (value_ && value_ != INVALID_HANDLE_VALUE) ::CloseHandle(value_);
    }
    HANDLE get() const { return value_; }
    bool valid() const { return value_ && value_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE value_;
};

// One overlapped transfer with a time limit; the error, 0 when every byte
// was moved.
DWORD Transfer(HANDLE pipe, bool write, void* buffer, DWORD size) {
    Handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.valid()) return ::GetLastError();
    DWORD offset = 0;
    while (offset < size) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        ::ResetEvent(done.get());
        char* at = static_cast<char*>(buffer) + offset;
        const BOOL started = write ? ::WriteFile(pipe, at, size - offset, nullptr, &overlapped)
                                   : ::ReadFile(pipe, at, size - offset, nullptr, &overlapped);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return ::GetLastError();
        if (::WaitForSingleObject(done.get(), qmtipc::kIoTimeoutMs) != WAIT_OBJECT_0) {
            ::CancelIo(pipe);
            DWORD ignored = 0;
            ::GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
            return ERROR_SEM_TIMEOUT;
        }
        DWORD moved = 0;
        if (!::GetOverlappedResult(pipe, &overlapped, &moved, FALSE)) return ::GetLastError();
        if (moved == 0) return ERROR_BROKEN_PIPE;
        offset += moved;
    }
    return 0;
}

DWORD Connect(const std::string& pipeName, HANDLE* pipe) {
    const DWORD deadline = ::GetTickCount() + qmtipc::kIoTimeoutMs;
    for (;;) {
        *pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        if (*pipe != INVALID_HANDLE_VALUE) return 0;
        const DWORD error = ::GetLastError();
        // Busy: the listener is serving another sender.
        if (error != ERROR_PIPE_BUSY || static_cast<LONG>(deadline - ::GetTickCount()) <= 0) return error;
        ::WaitNamedPipeA(pipeName.c_str(), 500);
    }
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI QMTIPCDelayLoadInitialize() { return 0; }

extern "C" __declspec(dllexport) int WINAPI QMTIPCSendMessage(char* target, unsigned int code, const void* payload,
                                                              unsigned int payloadLength, unsigned int reserved) {
    if (!target) return ERROR_INVALID_PARAMETER;
    const size_t targetLength = strnlen(target, qmtipc::kMaxTargetLength + 1);
    if (targetLength == 0 || targetLength > qmtipc::kMaxTargetLength) return ERROR_INVALID_PARAMETER;
    if ((payloadLength > 0 && !payload) || payloadLength > qmtipc::kMaxPayloadLength) return ERROR_INVALID_PARAMETER;

    const qmtipc::MessageHeader header{qmtipc::kMessageMagic, code, static_cast<uint32_t>(targetLength),
                                       payloadLength, reserved};
    std::vector<char> message(sizeof(header) + targetLength + payloadLength);
    memcpy(message.data(), &header, sizeof(header));
    memcpy(message.data() + sizeof(header), target, targetLength);
    if (payloadLength > 0) memcpy(message.data() + sizeof(header) + targetLength, payload, payloadLength);

    HANDLE raw = INVALID_HANDLE_VALUE;
    const DWORD connectError = Connect(std::string(qmtipc::PipePrefix()) + std::string(target, targetLength), &raw);
    if (connectError != 0) return static_cast<int>(connectError);
    Handle pipe(raw);

    DWORD error = Transfer(pipe.get(), true, message.data(), static_cast<DWORD>(message.size()));
    if (error != 0) return static_cast<int>(error);
    uint32_t status = qmtipc::kStatusRejected;
    error = Transfer(pipe.get(), false, &status, sizeof(status));
    if (error != 0) return static_cast<int>(error);
    return status == qmtipc::kStatusTaken ? 0 : ERROR_INVALID_DATA;
}

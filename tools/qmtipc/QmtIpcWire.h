#pragma once
// What the stand-in IPC library and the stand-in daemon say to each other
// over the named pipe "\\.\pipe\<target>": one message a connection, the
// header below followed by the target's bytes and the payload's bytes, and
// one 32-bit status back (0: the daemon has recorded the message).
#include <cstdint>

namespace qmtipc {

constexpr uint32_t kMessageMagic = 0x4D51564B;  // "KVQM"
constexpr uint32_t kMaxTargetLength = 200;
constexpr uint32_t kMaxPayloadLength = 1u << 20;
constexpr uint32_t kStatusTaken = 0;
constexpr uint32_t kStatusRejected = 1;
// How long either side waits for the other before giving the connection up.
constexpr uint32_t kIoTimeoutMs = 5000;

struct MessageHeader {
    uint32_t magic;
    uint32_t code;
    uint32_t targetLength;
    uint32_t payloadLength;
    uint32_t reserved;  // the sender's last argument, passed on as it came
};

inline const char* PipePrefix() { return "\\\\.\\pipe\\"; }

}  // namespace qmtipc

#include "product/QmtIpcImports.h"

#include <iterator>

namespace {

using InitializeEntry = int(WINAPI*)();
using SendMessageEntry = int(WINAPI*)(char*, unsigned int, const void*, unsigned int, unsigned int);

enum : size_t { kInitializeIndex = 0, kSendMessageIndex = 1 };

HMODULE g_module = nullptr;
FARPROC g_addresses[2] = {};
DelayLoadImport g_imports[] = {
    {"QMTIPCDelayLoadInitialize", 0, &g_addresses[kInitializeIndex]},
    {"QMTIPCSendMessage", 0, &g_addresses[kSendMessageIndex]},
};
const DelayLoadDescriptor g_descriptor = {
    kDelayLoadRelativeAddresses, kQmtIpcLibraryName, &g_module, g_imports, std::size(g_imports), nullptr, 0,
};

// The resolved address, resolving it on first use.
template <typename Entry>
Entry EntryAt(size_t index) {
    FARPROC address = reinterpret_cast<FARPROC>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&g_addresses[index]), nullptr, nullptr));
    if (!address) address = ResolveDelayLoadedImport(g_descriptor, index);
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(address));
}

}  // namespace

extern "C" int WINAPI QMTIPCDelayLoadInitialize() { return EntryAt<InitializeEntry>(kInitializeIndex)(); }

extern "C" int WINAPI QMTIPCSendMessage(char* target, unsigned int code, const void* payload,
                                        unsigned int payloadLength, unsigned int reserved) {
    return EntryAt<SendMessageEntry>(kSendMessageIndex)(target, code, payload, payloadLength, reserved);
}

const DelayLoadDescriptor& QmtIpcDelayLoadDescriptor() { return g_descriptor; }

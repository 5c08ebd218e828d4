#include "product/DelayLoadSystemCalls.h"

#include <atomic>

namespace {

class Win32Calls final : public DelayLoadSystemCalls {
public:
    LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key) override {
        return ::RegOpenKeyExA(root, subKey, options, access, key);
    }
    LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD dataSize) override {
        return ::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
    DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) override {
        return ::GetModuleFileNameA(module, fileName, size);
    }
    HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) override {
        return ::LoadLibraryExW(fileName, file, flags);
    }
};

std::atomic<DelayLoadSystemCalls*> g_replacement{nullptr};

}  // namespace

DelayLoadSystemCalls& Win32DelayLoadSystemCalls() {
    static Win32Calls calls;
    return calls;
}

DelayLoadSystemCalls& CurrentDelayLoadSystemCalls() {
    DelayLoadSystemCalls* calls = g_replacement.load();
    return calls ? *calls : Win32DelayLoadSystemCalls();
}

DelayLoadSystemCalls* ReplaceDelayLoadSystemCalls(DelayLoadSystemCalls* calls) {
    DelayLoadSystemCalls* previous = g_replacement.exchange(calls);
    return previous ? previous : &Win32DelayLoadSystemCalls();
}

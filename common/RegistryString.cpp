#include "common/RegistryString.h"

#include <new>
#include <vector>

namespace kv {

namespace {

bool IsAccepted(DWORD type, RegistryStringTypes types) {
    return type == REG_SZ || (types == RegistryStringTypes::PlainOrExpandable && type == REG_EXPAND_SZ);
}

RegistryStringRead Ended(RegistryStringRead read, RegistryStringRead::Outcome outcome, LONG error) {
    read.outcome = outcome;
    read.error = error;
    return read;
}

}  // namespace

RegistryStringRead ReadRegistryString(HKEY key, const wchar_t* valueName, RegistryStringTypes types,
                                      DWORD maxBytes, std::wstring& text) {
    RegistryStringRead read;
    DWORD byteSize = 0;
    const LONG queried = ::RegQueryValueExW(key, valueName, nullptr, &read.type, nullptr, &byteSize);
    if (queried != ERROR_SUCCESS) return Ended(read, RegistryStringRead::QueryFailed, queried);
    if (byteSize > maxBytes) return Ended(read, RegistryStringRead::QueryFailed, ERROR_MORE_DATA);
    if (!IsAccepted(read.type, types)) return Ended(read, RegistryStringRead::WrongType, ERROR_UNSUPPORTED_TYPE);

    // Room for every whole unit of the data plus a terminator of our own.
    std::vector<wchar_t> buffer;
    try {
        buffer.assign(byteSize / sizeof(wchar_t) + 1, L'\0');
    } catch (const std::bad_alloc&) {
        return Ended(read, RegistryStringRead::Failed, ERROR_OUTOFMEMORY);
    }
    DWORD readType = REG_NONE;
    DWORD readSize = byteSize;
    const LONG status = ::RegQueryValueExW(key, valueName, nullptr, &readType,
                                           reinterpret_cast<BYTE*>(buffer.data()), &readSize);
    // Only what the second query wrote, and only of the type the first one
    // checked, is taken.
    if (status != ERROR_SUCCESS) return Ended(read, RegistryStringRead::Failed, status);
    if (readType != read.type || readSize > byteSize) {
        return Ended(read, RegistryStringRead::Failed, ERROR_INVALID_DATA);
    }
    buffer[readSize / sizeof(wchar_t)] = L'\0';
    text.assign(buffer.data());
    read.outcome = RegistryStringRead::Read;
    return read;
}

}  // namespace kv

#include "registry/Win32Registry.h"

#include <new>
#include <vector>

#include "registry/AnsiText.h"

namespace {

void SetError(int* error, int value) {
    if (error) *error = value;
}

}  // namespace

int Win32Registry::MapOpenError(LONG status) {
    switch (status) {
    case ERROR_SUCCESS:
        return RegistryError::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return RegistryError::NotFound;
    case ERROR_ACCESS_DENIED:
        return RegistryError::AccessDenied;
    default:
        return RegistryError::Failed;
    }
}

kv::unique_hkey Win32Registry::OpenKey(const std::string& keyPath, REGSAM access, int* error) const {
    SetError(error, RegistryError::None);
    kv::unique_hkey key;
    const LONG status = ::RegOpenKeyExA(root_, keyPath.c_str(), 0, access | kv::kProductRegistryView, key.put());
    if (status != ERROR_SUCCESS) {
        key.release();  // the API leaves no handle behind on failure
        SetError(error, MapOpenError(status));
    }
    return key;
}

bool Win32Registry::ReadString(const std::string& keyPath, const std::string& valueName,
                               std::wstring& text, int* error) {
    kv::unique_hkey key = OpenKey(keyPath, KEY_READ, error);
    if (!key) return false;
    const std::wstring name = AnsiToWide(valueName);

    DWORD type = 0;
    DWORD byteSize = 0;
    LONG status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &byteSize);
    if (status != ERROR_SUCCESS) {
        SetError(error, MapOpenError(status));
        return false;
    }
    if (type != REG_SZ) {
        SetError(error, RegistryError::WrongType);
        return false;
    }

    // Room for every whole unit of the data plus a terminator of our own: the
    // stored data need not end in a zero, and may have an odd byte count.
    std::vector<wchar_t> buffer;
    try {
        buffer.assign(byteSize / sizeof(wchar_t) + 1, L'\0');
    } catch (const std::bad_alloc&) {
        SetError(error, RegistryError::Failed);
        return false;
    }
    DWORD readSize = byteSize;
    status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(buffer.data()), &readSize);
    // The value may have changed between the two queries: only what the second
    // one wrote, and only as REG_SZ, is taken.
    if (status != ERROR_SUCCESS || type != REG_SZ || readSize > byteSize) {
        SetError(error, RegistryError::Failed);
        return false;
    }
    buffer[readSize / sizeof(wchar_t)] = L'\0';
    text.assign(buffer.data());
    return true;
}

bool Win32Registry::ReadDword(const std::string& keyPath, const std::string& valueName,
                              DWORD& value, int* error) {
    kv::unique_hkey key = OpenKey(keyPath, KEY_READ, error);
    if (!key) return false;

    // Preset, so that a missing value (which reports no type) maps to NotFound.
    DWORD type = REG_DWORD;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LONG status = ::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(&data), &size);
    // Some registry implementations report a type even for a missing value.
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        SetError(error, RegistryError::NotFound);
        return false;
    }
    if (type != REG_DWORD) {
        SetError(error, RegistryError::WrongType);
        return false;
    }
    if (status != ERROR_SUCCESS) {
        // A value longer than four bytes ends here with ERROR_MORE_DATA: Failed.
        SetError(error, MapOpenError(status));
        return false;
    }
    // A shorter value fills only its own bytes of the zeroed word.
    value = data;
    return true;
}

bool Win32Registry::WriteString(const std::string& keyPath, const std::string& valueName,
                                const std::string& text, int* error) {
    kv::unique_hkey key = OpenKey(keyPath, KEY_ALL_ACCESS, error);
    if (!key) return false;
    const LONG status = ::RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text.c_str()),
                                         static_cast<DWORD>(text.size() + 1));
    if (status != ERROR_SUCCESS) {
        SetError(error, RegistryError::Failed);
        return false;
    }
    return true;
}

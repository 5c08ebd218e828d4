#include "registry/Win32Registry.h"

#include "common/RegistryString.h"
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
    const kv::RegistryStringRead read = kv::ReadRegistryString(
        key.get(), AnsiToWide(valueName).c_str(), kv::RegistryStringTypes::Plain, MAXDWORD, text);
    switch (read.outcome) {
    case kv::RegistryStringRead::Read:
        return true;
    case kv::RegistryStringRead::QueryFailed:
        SetError(error, MapOpenError(read.error));
        return false;
    case kv::RegistryStringRead::WrongType:
        SetError(error, RegistryError::WrongType);
        return false;
    default:
        SetError(error, RegistryError::Failed);
        return false;
    }
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

#include "stub/ConnectionSettings.h"

#include <vector>

#include "common/RegistryString.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

namespace {

// Real values hold a few hundred bytes; a long bypass list a few thousand.
const DWORD kMaxValueBytes = 64 * 1024;
const DWORD kMaxTextChars = 8192;
const size_t kHeaderBytes = 3 * sizeof(DWORD);  // version, change counter, flags

class Reader {
public:
    Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool Dword(DWORD& value) {
        if (size_ - offset_ < sizeof(DWORD)) return false;
        value = static_cast<DWORD>(data_[offset_]) | static_cast<DWORD>(data_[offset_ + 1]) << 8 |
                static_cast<DWORD>(data_[offset_ + 2]) << 16 | static_cast<DWORD>(data_[offset_ + 3]) << 24;
        offset_ += sizeof(DWORD);
        return true;
    }
    // A length, then that many bytes of text in the system's code page.
    bool Text(std::wstring& text) {
        DWORD length = 0;
        if (!Dword(length) || length > size_ - offset_) return false;
        const char* start = reinterpret_cast<const char*>(data_ + offset_);
        offset_ += length;
        size_t used = 0;
        while (used < length && start[used] != '\0') ++used;
        text.clear();
        if (used == 0) return true;
        const int chars = ::MultiByteToWideChar(CP_ACP, 0, start, static_cast<int>(used), nullptr, 0);
        if (chars <= 0) return false;
        text.resize(static_cast<size_t>(chars));
        return ::MultiByteToWideChar(CP_ACP, 0, start, static_cast<int>(used), &text[0], chars) == chars;
    }

private:
    const BYTE* data_;
    size_t size_;
    size_t offset_ = 0;
};

// The stored value, or false when it is missing (error in lastError) or not a
// binary of a size worth reading.
bool ReadBinary(HKEY key, const wchar_t* name, std::vector<BYTE>& data, LONG& lastError) {
    DWORD type = REG_NONE;
    DWORD size = kMaxValueBytes;
    data.assign(kMaxValueBytes, 0);
    lastError = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (lastError != ERROR_SUCCESS) return false;
    if (type != REG_BINARY) {
        lastError = ERROR_UNSUPPORTED_TYPE;
        return false;
    }
    data.resize(size);
    return true;
}

std::wstring ReadText(HKEY key, const wchar_t* name) {
    std::wstring text;
    if (!kv::ReadRegistryString(key, name, kv::RegistryStringTypes::Plain, kMaxTextChars * sizeof(wchar_t), text)) {
        text.clear();
    }
    return text;
}

DWORD ReadDword(HKEY key, const wchar_t* name) {
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return 0;
    }
    return value;
}

void ReadLegacyValues(HKEY key, ConnectionSettings& settings) {
    settings = ConnectionSettings();
    settings.proxy = ReadText(key, L"ProxyServer");
    settings.bypass = ReadText(key, L"ProxyOverride");
    settings.scriptUrl = ReadText(key, L"AutoConfigURL");
    if (ReadDword(key, L"ProxyEnable") != 0) settings.flags |= ConnectionSettings::kNamedProxy;
    if (!settings.scriptUrl.empty()) settings.flags |= ConnectionSettings::kScript;
}

}  // namespace

bool ParseConnectionSettings(const BYTE* data, size_t size, ConnectionSettings& settings) {
    if (data == nullptr || size < kHeaderBytes) return false;
    Reader reader(data, size);
    DWORD version = 0;
    DWORD counter = 0;
    ConnectionSettings parsed;
    if (!reader.Dword(version) || version == 0 || !reader.Dword(counter) || !reader.Dword(parsed.flags)) return false;
    if (!reader.Text(parsed.proxy) || !reader.Text(parsed.bypass) || !reader.Text(parsed.scriptUrl)) return false;
    settings = parsed;
    return true;
}

bool ReadConnectionSettings(HKEY root, const std::wstring& settingsPath, ConnectionSettings& settings) {
    const wchar_t* const kFunction = L"ReadConnectionSettings";
    kv::unique_hkey key;
    if (::RegOpenKeyExW(root, settingsPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    kv::unique_hkey connections;
    std::vector<BYTE> data;
    LONG error = ERROR_FILE_NOT_FOUND;
    if (::RegOpenKeyExW(key.get(), L"Connections", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, connections.put()) ==
            ERROR_SUCCESS &&
        ReadBinary(connections.get(), L"DefaultConnectionSettings", data, error)) {
        if (ParseConnectionSettings(data.data(), data.size(), settings)) {
            settings.binary = true;
            LogMessage(LogInfo, L"%s: Connection settings: flags 0x%lx, proxy '%s', bypass '%s', script '%s'",
                       kFunction, settings.flags, settings.proxy.c_str(), settings.bypass.c_str(),
                       settings.scriptUrl.c_str());
            return true;
        }
        LogMessage(LogWarning, L"%s: DefaultConnectionSettings of %lu bytes is malformed; ignored", kFunction,
                   static_cast<DWORD>(data.size()));
    } else if (error != ERROR_FILE_NOT_FOUND) {
        LogMessage(LogWarning, L"%s: DefaultConnectionSettings cannot be read (%ld); ignored", kFunction, error);
    }
    ReadLegacyValues(key.get(), settings);
    LogMessage(LogInfo, L"%s: Legacy settings: flags 0x%lx, proxy '%s', bypass '%s', script '%s'", kFunction,
               settings.flags, settings.proxy.c_str(), settings.bypass.c_str(), settings.scriptUrl.c_str());
    return true;
}

bool ProxySettingsPerMachine() {
    kv::unique_hkey key;
    const wchar_t* const policies = L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, policies, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 1;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    return ::RegQueryValueExW(key.get(), L"ProxySettingsPerUser", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                              &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(value) && value == 0;
}

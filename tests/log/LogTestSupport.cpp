#include "tests/log/LogTestSupport.h"

#include <gtest/gtest.h>

#include <cwctype>

#include "tests/support/TestFiles.h"

namespace LogTest {

namespace {
const REGSAM kView = KEY_WOW64_32KEY;
}

ScopedRegistryValue::ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD value)
    : ScopedRegistryValue(key, name, REG_DWORD, &value, sizeof(value)) {}

ScopedRegistryValue::ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD type,
                                         const void* data, DWORD size)
    : key_(key), name_(name) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kView, nullptr,
                                  &handle, nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status) << "creating the test key";
    if (status != ERROR_SUCCESS) return;
    status = RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    EXPECT_EQ(ERROR_SUCCESS, status) << "writing the test value";
    RegCloseKey(handle);
}

ScopedRegistryValue::~ScopedRegistryValue() {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE | kView, &handle) == ERROR_SUCCESS) {
        RegDeleteValueW(handle, name_.c_str());
        RegCloseKey(handle);
    }
}

void DeleteRegistryTree(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | kView, &handle) != ERROR_SUCCESS) return;
    RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), kView, 0);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    const std::string bytes = testsupport::ReadBytes(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    ASSERT_TRUE(testsupport::WriteBytes(path, std::string(bytes.begin(), bytes.end())));
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    const std::vector<unsigned char> bytes = ReadBytes(path);
    EXPECT_GE(bytes.size(), 2u) << "no byte-order mark";
    if (bytes.size() < 2) return lines;
    EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xFE) << "no byte-order mark";
    EXPECT_EQ(0u, bytes.size() % 2) << "odd byte count";
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

std::wstring CommonAppData() {
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof(folder);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                 L"Common AppData", RRF_RT_REG_SZ, nullptr, folder, &size);
    return folder;
}

std::wstring LogPathFor(const std::wstring& component, const std::wstring& logName) {
    return CommonAppData() + L"\\K-Vantor\\logs\\" + component + L"\\" + logName + L".log";
}

std::wstring SettingsKey(const std::wstring& component, const std::wstring& logName) {
    std::wstring key = L"SOFTWARE\\K-Vantor\\QMT\\Logging";
    if (!component.empty()) key += L"\\" + component;
    if (!logName.empty()) key += L"\\" + logName;
    return key;
}

std::wstring UniqueName(const std::wstring& base) {
    static LONG counter = 0;
    return base + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(InterlockedIncrement(&counter));
}

namespace {
bool DigitsAt(const std::wstring& s, size_t at, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (at + i >= s.size() || !iswdigit(s[at + i])) return false;
    }
    return true;
}
bool HexAt(const std::wstring& s, size_t at, size_t& end) {
    size_t i = at;
    while (i < s.size() && iswxdigit(s[i]) && !iswupper(s[i])) ++i;
    end = i;
    return i - at >= 4 && i - at <= 8;
}
}  // namespace

bool IsWellFormedLine(const std::wstring& line) {
    // 2013-05-14 09:31:07.042 [0a3c.0b10] " I: message\r\n"
    if (line.size() < 40) return false;
    if (!DigitsAt(line, 0, 4) || line[4] != L'-' || !DigitsAt(line, 5, 2) || line[7] != L'-' || !DigitsAt(line, 8, 2) ||
        line[10] != L' ' || !DigitsAt(line, 11, 2) || line[13] != L':' || !DigitsAt(line, 14, 2) ||
        line[16] != L':' || !DigitsAt(line, 17, 2) || line[19] != L'.' || !DigitsAt(line, 20, 3) ||
        line[23] != L' ' || line[24] != L'[') {
        return false;
    }
    size_t end = 0;
    if (!HexAt(line, 25, end) || line[end] != L'.') return false;
    if (!HexAt(line, end + 1, end) || line.compare(end, 2, L"] ") != 0) return false;
    static const wchar_t* const kTags[] = {L"*F", L"*E", L".W", L" I", L" D", L" V", L"  "};
    bool tagOk = false;
    for (const wchar_t* tag : kTags) tagOk = tagOk || line.compare(end + 2, 2, tag) == 0;
    if (!tagOk || line.compare(end + 4, 2, L": ") != 0) return false;
    if (line.size() < 2 || line.compare(line.size() - 2, 2, L"\r\n") != 0) return false;
    return line.find(L'\r') == line.size() - 2 && line.find(L'\n') == line.size() - 1;
}

std::wstring MessageOf(const std::wstring& line) {
    const size_t bracket = line.find(L"] ");
    if (bracket == std::wstring::npos || line.size() < bracket + 8) return std::wstring();
    return line.substr(bracket + 6, line.size() - (bracket + 6) - 2);
}

}  // namespace LogTest

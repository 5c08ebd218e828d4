#include "log/LogNames.h"

namespace KvQmtLogging {

std::wstring RotatedName(const std::wstring& path, unsigned i) {
    if (i == 0) return path;
    const size_t dot = path.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && dot != 0;
    std::wstring name = hasExtension ? path.substr(0, dot) : path;
    name += L'.';
    name += std::to_wstring(i);
    if (hasExtension) {
        name += L'.';
        name += path.substr(dot + 1);
    }
    return name;
}

void SanitizeObjectName(std::wstring& name) {
    size_t start = 0;
    if (name.compare(0, 7, L"Global\\") == 0) {
        start = 7;
    } else if (name.compare(0, 6, L"Local\\") == 0) {
        start = 6;
    }
    for (size_t i = start; i < name.size(); ++i) {
        if (name[i] == L'\\') name[i] = L'_';
    }
}

std::wstring MakeLogMutexName(const std::wstring& path) {
    std::wstring name = L"Global\\KvQmtLogging_" + path;
    SanitizeObjectName(name);
    return name;
}

std::wstring DeleteNameCandidate(const std::wstring& path, int n) {
    return path + L"__delete_" + std::to_wstring(n);
}

}  // namespace KvQmtLogging

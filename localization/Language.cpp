#include "localization/Language.h"

#include <cwctype>
#include <vector>

#include "log/KvQmtLog.h"
#include "registry/Win32Registry.h"

using KvQmtLogging::LogMessage;

namespace Language {

namespace {

const wchar_t kFallback[] = L"en";

// The languages of the string table.
const wchar_t* const kSupported[] = {
    L"bg", L"cs", L"da", L"de",    L"el", L"en", L"es",    L"es-mx", L"et", L"fi",
    L"fr", L"fr-ca", L"hu", L"it", L"ja", L"nl", L"no",    L"pl",    L"pt", L"pt-br",
    L"ro", L"ru",  L"sl", L"sv",   L"tr", L"vi", L"zh",    L"zh-hk", L"zh-tw",
};

}  // namespace

std::wstring GetDisplayLanguage() {
    const wchar_t* const kFunction = L"Language::GetDisplayLanguage";
    std::wstring tag;
    if (GetInstallationLanguage(tag)) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: Current installation language is '%s'", kFunction, tag.c_str());
        return tag;
    }
    std::wstring full, generic, country;
    if (GetLocale(full, generic, country)) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: User locale is '%s' (generic '%s', country '%s')", kFunction, full.c_str(), generic.c_str(),
                   country.c_str());
        for (const std::wstring* candidate : {&full, &generic, &country}) {
            if (IsSupportedLocale(*candidate)) return *candidate;
        }
    }
    LogMessage(KvQmtLogging::LogWarning, L"%s: Didn't find suitable locale. Trying fallback '%s'", kFunction, kFallback);
    return kFallback;
}

bool GetInstallationLanguage(std::wstring& tag) {
    return Win32Registry(HKEY_LOCAL_MACHINE).ReadString("SOFTWARE\\K-Vantor\\Ovalis Agent", "Language", tag);
}

bool GetLocale(std::wstring& full, std::wstring& generic, std::wstring& country) {
    const wchar_t* const kFunction = L"Language::GetLocale";
    if (GetLocaleInfoString(LOCALE_SISO639LANGNAME, generic) && GetLocaleInfoString(LOCALE_SISO3166CTRYNAME, country)) {
        full = generic + L"-" + country;
        LogMessage(KvQmtLogging::LogDebug, L"%s: detected locale is '%s'", kFunction, full.c_str());
        for (wchar_t& c : country) c = static_cast<wchar_t>(towlower(c));
        return true;
    }
    LogMessage(KvQmtLogging::LogWarning, L"%s: failed to detect locale", kFunction);
    return false;
}

bool GetLocaleInfoString(LCTYPE item, std::wstring& text) {
    const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, item, nullptr, 0);
    if (length <= 0) return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buffer.data(), length)) return false;
    text = buffer.data();
    return true;
}

bool IsSupportedLocale(const std::wstring& tag) {
    const wchar_t* const kFunction = L"Language::IsSupportedLocale";
    for (const wchar_t* supported : kSupported) {
        if (_wcsicmp(tag.c_str(), supported) == 0) return true;
    }
    LogMessage(KvQmtLogging::LogWarning, L"%s: %s is not supported locale", kFunction, tag.c_str());
    return false;
}

}  // namespace Language

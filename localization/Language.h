#pragma once
// The choice of the display language when the command line names none: the
// product's configured language, else the user's locale as far as the string
// table has it, else English.
#include <windows.h>

#include <string>

namespace Language {

std::wstring GetDisplayLanguage();
bool GetInstallationLanguage(std::wstring& tag);
bool GetLocale(std::wstring& full, std::wstring& generic, std::wstring& country);
bool GetLocaleInfoString(LCTYPE item, std::wstring& text);
bool IsSupportedLocale(const std::wstring& tag);

}  // namespace Language

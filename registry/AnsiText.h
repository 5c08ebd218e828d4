#pragma once
// Conversions between the ANSI code page and UTF-16, used for the registry
// layer's narrow key paths and value names. A failed conversion gives an
// empty text; the result ends at the first zero character.
#include <string>

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

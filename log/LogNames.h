#pragma once
#include <string>

namespace KvQmtLogging {

// The names every process sharing a log agrees on: older files, the file
// mutex and the names a removed file is moved to first.

// X.log with i = 2 gives X.2.log; i = 0 gives the path itself. The number
// goes before the last extension; a path without a dot just gets ".i".
std::wstring RotatedName(const std::wstring& path, unsigned i);

// Backslashes become underscores, except in a leading "Global\" or "Local\".
void SanitizeObjectName(std::wstring& name);

// "Global\KvQmtLogging_" and the path with its backslashes replaced.
std::wstring MakeLogMutexName(const std::wstring& path);

// "<path>__delete_<n>"
std::wstring DeleteNameCandidate(const std::wstring& path, int n);

}  // namespace KvQmtLogging

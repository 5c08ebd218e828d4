#pragma once
// The product keeps its keys in the 32-bit view of HKLM\SOFTWARE. The program
// is a 32-bit process, which sees that view anyway (and on 32-bit Windows the
// flag is ignored); a build of another word size, such as the test build on a
// host that runs no 32-bit code, reaches the same keys only through the flag.
#include <windows.h>

namespace kv {
constexpr REGSAM kProductRegistryView = KEY_WOW64_32KEY;
}  // namespace kv

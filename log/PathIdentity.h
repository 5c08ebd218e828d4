#pragma once
// Whether a name leads where it says: a junction or symbolic link (also one
// the platform does not mark as a reparse point) makes the final path of
// what the name opens differ from the final path of its folder plus the name.
#include <windows.h>

#include <string>

namespace KvQmtLogging {

// The final path of an open file or folder, without a "\\?\" prefix; empty
// when it cannot be had.
std::wstring FinalPathOf(HANDLE handle);

// True when the handle is the object that the path names in its folder,
// reached through no link.
bool HandleIsAt(HANDLE handle, const wchar_t* path);

// True when the existing object at path is a link or is reached through one
// in its last component; false for a missing one.
bool IsReachedThroughLink(const wchar_t* path);

}  // namespace KvQmtLogging

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

// The components of a log path below the common application-data folder:
// the maker's folder, "logs", the log's own folder and the file. None of
// them may be a link.
const int kLogPathOwnComponents = 4;

// True when the handle is the object that the path names, reached through no
// link in its last namedComponents components: only the folder above them
// is resolved, the rest must match as written.
bool HandleIsAt(HANDLE handle, const wchar_t* path, int namedComponents);

// True when the existing object at path is a link or is reached through one
// in its last component; false for a missing one.
bool IsReachedThroughLink(const wchar_t* path);

}  // namespace KvQmtLogging

#pragma once
// Whether an open file or folder is the entry it was opened as: a junction
// or symbolic link (also one the platform does not mark as a reparse point)
// makes the final path of what was opened differ from the final path of its
// folder plus its name.
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

// True when the opened object is the entry `name` of the open folder, reached
// through no link.
bool IsNamedIn(HANDLE opened, HANDLE folder, const wchar_t* name);

// The same for a full path: the opened object is the last component of the
// path as written, in the folder the rest of the path leads to.
bool IsAtPath(HANDLE opened, const wchar_t* path);

// True when the existing object at path is a link or is reached through one
// in its last component; false for a missing one.
bool IsReachedThroughLink(const wchar_t* path);

}  // namespace KvQmtLogging

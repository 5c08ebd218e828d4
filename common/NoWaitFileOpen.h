#pragma once
// Opens a file or folder so that the open never waits for another process to
// give up an opportunistic lock: when the open would have to wait for the
// holder to acknowledge a break, it fails at once
// (error 742, ERROR_OPLOCK_BREAK_IN_PROGRESS), so a user who holds such a lock on a
// file this program reads or writes cannot stall it. A name given with a
// folder handle is looked up in that folder itself, wherever the folder's
// path may lead by then.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace kv {

enum class OpenDisposition { Existing, Always, New };
enum class OpenKind { Any, Folder, NotFolder };

struct NoWaitOpen {
    HANDLE folder = nullptr;       // none: name is an absolute path
    const wchar_t* name = nullptr;  // with a folder: one name inside it
    DWORD access = 0;
    DWORD share = 0;
    OpenDisposition disposition = OpenDisposition::Existing;
    OpenKind kind = OpenKind::Any;
    bool openLinkItself = false;  // a junction or link is opened, not followed
    SECURITY_ATTRIBUTES* security = nullptr;  // for what the open creates
};

// Synchronous I/O on the handle. An invalid handle with the last-error value
// on failure; created (when given) tells whether this open made the object.
unique_hfile OpenWithoutWaiting(const NoWaitOpen& request, bool* created = nullptr);

}  // namespace kv

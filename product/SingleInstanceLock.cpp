#include "product/SingleInstanceLock.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "common/SddlSecurityAttributes.h"
#include "common/TrustedOwner.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogDebug;
using KvQmtLogging::LogError;
using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

namespace {

// The log name of the start-up step this lock is.
const wchar_t kLockFunction[] = L"NX_Helpers::AllocateSingleInstanceMutex";
// The namespace's name, and the boundary only the Administrators group passes.
const wchar_t kNamespaceAlias[] = L"K-Vantor NX Upgrade";
// SYSTEM and the Administrators alone may reach the namespace and its mutex.
const wchar_t kAdministratorsOnly[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

namespace traits {
struct PrivateNamespace {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::ClosePrivateNamespace(h, 0); }
};
struct BoundaryDescriptor {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteBoundaryDescriptor(h); }
};
}  // namespace traits

class Win32SingleInstanceLockApi : public SingleInstanceLockApi {
public:
    HANDLE CreateMachineMutex(const wchar_t* name) override { return ::CreateMutexW(nullptr, FALSE, name); }

    ObjectOwner OwnerOf(HANDLE object) override {
        PSID owner = nullptr;
        kv::unique_hlocal descriptor;
        const DWORD status =
            ::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
        if (status != ERROR_SUCCESS || owner == nullptr || !::IsValidSid(owner)) return ObjectOwner::Unknown;
        return kv::IsTrustedOwner(owner) ? ObjectOwner::Administrators : ObjectOwner::Other;
    }

    HANDLE CreateAdministratorsMutex(const wchar_t* name) override {
        kv::SddlSecurityAttributes security(kAdministratorsOnly, kv::SddlSecurityAttributes::Dacl::Protected);
        if (!OpenNamespace(security)) return nullptr;
        const std::wstring fullName = std::wstring(kNamespaceAlias) + L"\\" + name;
        return ::CreateMutexW(security.get(), FALSE, fullName.c_str());
    }

private:
    bool OpenNamespace(kv::SddlSecurityAttributes& security) {
        if (namespace_) return true;
        kv::unique_any<traits::BoundaryDescriptor> boundary(::CreateBoundaryDescriptorW(kNamespaceAlias, 0));
        // Where private namespaces are missing, the boundary cannot be made;
        // nothing further is called then.
        if (!boundary) return false;
        BYTE sid[SECURITY_MAX_SID_SIZE] = {};
        DWORD sidSize = sizeof(sid);
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return false;
        HANDLE descriptor = boundary.release();
        const BOOL added = ::AddSIDToBoundaryDescriptor(&descriptor, sid);
        boundary.reset(descriptor);
        if (!added) return false;
        namespace_.reset(::CreatePrivateNamespaceW(security.get(), boundary.get(), kNamespaceAlias));
        if (!namespace_ && ::GetLastError() == ERROR_ALREADY_EXISTS) {
            namespace_.reset(::OpenPrivateNamespaceW(boundary.get(), kNamespaceAlias));
        }
        return static_cast<bool>(namespace_);
    }

    kv::unique_any<traits::PrivateNamespace> namespace_;
};

// A name nobody may squat: an object of another kind under it, or one whose
// access list shuts the tool out, is a squatter too.
bool IsSquattedCreation(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE; }

// Waits for nothing: a held mutex, or one abandoned by a copy that died, is
// another copy's. A mutex taken is released through `hold`.
bool Hold(HANDLE mutex, kv::mutex_release& hold) {
    if (::WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) {
        LogMessage(LogWarning, L"%s: Single instance mutex cannot be aquired", kLockFunction);
        return false;
    }
    hold.reset(mutex);
    return true;
}

}  // namespace

SingleInstanceLockApi& SystemSingleInstanceLockApi() {
    static Win32SingleInstanceLockApi api;
    return api;
}

SingleInstanceLock AcquireSingleInstanceLock(SingleInstanceLockApi& api, const wchar_t* machineName,
                                             const wchar_t* privateName) {
    SingleInstanceLock lock;
    lock.machineMutex_.reset(api.CreateMachineMutex(machineName));
    const DWORD created = ::GetLastError();
    bool squatted = false;
    if (!lock.machineMutex_) {
        LogMessage(LogWarning, L"%s: Single instance mutex cannot be created", kLockFunction);
        if (!IsSquattedCreation(created)) return SingleInstanceLock();
        squatted = true;
    } else if (created == ERROR_ALREADY_EXISTS && api.OwnerOf(lock.machineMutex_.get()) == ObjectOwner::Other) {
        squatted = true;
        lock.machineMutex_.reset();
    }
    if (squatted) {
        LogMessage(LogWarning,
                   L"%s: The name '%s' is held by an account that is not an administrator (error %lu): not another "
                   L"copy of this tool; only the administrators' lock is taken",
                   kLockFunction, machineName, created);
    } else if (!Hold(lock.machineMutex_.get(), lock.machineHold_)) {
        return SingleInstanceLock();
    }

    lock.administratorsMutex_.reset(api.CreateAdministratorsMutex(privateName));
    if (!lock.administratorsMutex_) {
        const DWORD error = ::GetLastError();
        if (squatted) {
            LogMessage(LogError, L"%s: The administrators' lock cannot be had (error %lu): not running unguarded",
                       kLockFunction, error);
            return SingleInstanceLock();
        }
        LogMessage(LogDebug, L"%s: No administrators' lock here (error %lu): the machine-wide mutex guards alone",
                   kLockFunction, error);
    } else if (!Hold(lock.administratorsMutex_.get(), lock.administratorsHold_)) {
        return SingleInstanceLock();
    }
    LogMessage(LogInfo, L"%s: Single instance mutex aquired", kLockFunction);
    return lock;
}

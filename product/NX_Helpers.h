#pragma once
// The start-up flow's questions about the machine: may this copy run, which
// product family is installed, and which road to take.
#include "product/SingleInstanceLock.h"

namespace NX_Helpers {

// The machine-wide mutex that lets one copy run, across all sessions.
constexpr const wchar_t* kSingleInstanceMutexName = L"Global\\DC_{2182DDAC-C444-4eac-A01C-1E4E19C5A114}";
// Its twin in the administrators' private namespace, which no user can squat.
constexpr const wchar_t* kAdministratorsMutexName = L"DC_{2182DDAC-C444-4eac-A01C-1E4E19C5A114}";

// The framework versions that the roads need.
constexpr int kRequiredMajor = 1;
constexpr int kUpgradeableMinor = 57;  // 1.57 or newer can be upgraded in place
constexpr int kUpToDateMinor = 71;     // 1.71 or newer is NX already

// The held single-instance lock, or an empty one when another copy holds it
// (or a copy that held it died). It is released when the caller drops it.
SingleInstanceLock AllocateSingleInstanceMutex(SingleInstanceLockApi& api = SystemSingleInstanceLockApi());

// The installed security application's id from the family mapping; 4 when
// the mapping cannot be read or has no underscore.
int GetInstalledSecurityAppID();

// Version 1.57 or newer with the retail operator configured.
bool UpgradeableHGInstalledForRetailOperator();

// Version 1.71 or newer with the retail operator configured.
bool NXIsUpToDateAlready();

// Pure threshold tests on an extracted version.
bool IsUpgradeableVersion(int major, int minor);
bool IsUpToDateVersion(int major, int minor);

}  // namespace NX_Helpers

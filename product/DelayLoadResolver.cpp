#include "product/DelayLoadResolver.h"

#include <vector>

#include "common/RegistryView.h"
#include "common/SignerCheck.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"
#include "registry/AnsiText.h"
#include "product/DelayLoadSystemCalls.h"

using KvQmtLogging::LogMessage;

namespace {

constexpr const char* kInitialLookupKeyPath = "Software\\K-Vantor\\QMT\\Delay Loading\\100";

// The lookup location is written under GuardedDelayLoadInit's lock but may be
// read by a first use outside any initialisation, so it has a lock of its own.
SRWLOCK g_lookupLock = SRWLOCK_INIT;
HKEY g_lookupRoot = HKEY_LOCAL_MACHINE;
char g_lookupKeyPath[kDelayLoadKeyPathCapacity] = {};
bool g_lookupKeyPathSet = false;

// A key opened through the replaceable table is closed through it too.
class TableKey {
public:
    explicit TableKey(DelayLoadSystemCalls& calls) : calls_(calls) {}
    TableKey(const TableKey&) = delete;
    TableKey& operator=(const TableKey&) = delete;
    ~TableKey() {
        if (key_) calls_.RegCloseKey(key_);
    }
    HKEY* put() { return &key_; }
    HKEY get() const { return key_; }

private:
    DelayLoadSystemCalls& calls_;
    HKEY key_ = nullptr;
};

bool IsFullPath(const std::string& path) {
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool unc = path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

// Environment references of a REG_EXPAND_SZ path, in place; false when the
// expansion fails or does not fit a path.
bool ExpandPath(std::string& path) {
    char expanded[MAX_PATH] = {};
    const DWORD needed = ::ExpandEnvironmentStringsA(path.c_str(), expanded, MAX_PATH);
    if (needed == 0) return false;
    if (needed > MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    path = expanded;
    return true;
}

// Loads a library by its full path; its own dependencies are searched for
// in its folder, not in the folder the tool was started from.
HMODULE LoadByFullPath(DelayLoadSystemCalls& calls, const std::string& path) {
    const std::wstring widePath = AnsiToWide(path);
    if (widePath.empty()) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return nullptr;
    }
    return calls.LoadLibraryExW(widePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The copy beside the program, only when the maker signed it: the tool may
// have been started from a folder that users can write (Downloads), and it
// runs elevated. The file is held, neither writable nor deletable by anyone,
// from the check until it is mapped, so that what is loaded is what was
// checked. Null when there is none or it does not pass.
HMODULE LoadSignedBesideProgram(DelayLoadSystemCalls& calls, const std::string& path) {
    // Logs under the name of its caller, FindAndLoadLibrary.
    const wchar_t* const kFunction = L"FindAndLoadLibrary";
    const std::wstring widePath = AnsiToWide(path);
    if (widePath.empty()) return nullptr;
    // A link is not followed: the check would hold its target while the
    // link itself could be replaced before the load.
    kv::unique_hfile held(::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: %s beside the program cannot be held (error %lu), skipped",
                       kFunction, widePath.c_str(), error);
        }
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(held.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: %s beside the program is not a plain file, skipped", kFunction,
                   widePath.c_str());
        return nullptr;
    }
    wchar_t reason[kv::kSignerErrorChars] = {};
    if (!kv::VerifyMakerSignature(widePath.c_str(), held.get(), reason)) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: %s beside the program is not signed by the maker (%s), skipped",
                   kFunction, widePath.c_str(), reason);
        return nullptr;
    }
    return LoadByFullPath(calls, path);
}

// The full path registered under the lookup key in the value named after the
// library; empty when there is none that could be loaded without a search.
std::string ReadRegisteredPath(DelayLoadSystemCalls& calls, const std::string& libraryName) {
    // Logs under the name of its caller, FindAndLoadLibrary.
    const wchar_t* const kFunction = L"FindAndLoadLibrary";
    const std::string keyPath = DelayLoadLookupKeyPath();
    TableKey key(calls);
    LONG status = calls.RegOpenKeyExA(DelayLoadLookupRoot(), keyPath.c_str(), 0,
                                      KEY_READ | kv::kProductRegistryView, key.put());
    if (status != ERROR_SUCCESS) {
        *key.put() = nullptr;
        LogMessage(KvQmtLogging::LogInfo, L"%s: RegOpenKeyExA(%s) failed with error %ld", kFunction,
                   AnsiToWide(keyPath).c_str(), status);
        return std::string();
    }
    DWORD type = 0;
    DWORD size = 0;
    status = calls.RegQueryValueExA(key.get(), libraryName.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: RegQueryValueExA(%s) failed with error %ld", kFunction,
                   AnsiToWide(libraryName).c_str(), status);
        return std::string();
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > MAX_PATH) {
        LogMessage(KvQmtLogging::LogError, L"%s: value %s has type %lu and %lu bytes, not a path to a library",
                   kFunction, AnsiToWide(libraryName).c_str(), type, size);
        return std::string();
    }
    // Room beyond the data, zero-filled, so that data stored without their
    // terminating zero still end.
    std::vector<char> buffer(size + 5, '\0');
    DWORD readSize = size;
    status = calls.RegQueryValueExA(key.get(), libraryName.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &readSize);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || readSize > size) {
        LogMessage(KvQmtLogging::LogError, L"%s: second RegQueryValueExA(%s) failed with error %ld", kFunction,
                   AnsiToWide(libraryName).c_str(), status);
        return std::string();
    }
    std::string path(buffer.data());
    if (type == REG_EXPAND_SZ && !ExpandPath(path)) {
        LogMessage(KvQmtLogging::LogError, L"%s: registered path '%s' of %s cannot be expanded, error %lu",
                   kFunction, AnsiToWide(path).c_str(), AnsiToWide(libraryName).c_str(), ::GetLastError());
        return std::string();
    }
    if (!IsFullPath(path)) {
        // A relative name would make the loader search the system's folders.
        LogMessage(KvQmtLogging::LogError, L"%s: registered path '%s' of %s is not a full path", kFunction,
                   AnsiToWide(path).c_str(), AnsiToWide(libraryName).c_str());
        return std::string();
    }
    return path;
}

bool BoundAddressesMatch(const DelayLoadDescriptor& descriptor, HMODULE module) {
    if (!descriptor.boundAddresses || descriptor.timeStamp == 0) return false;
    const BYTE* image = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE && nt->FileHeader.TimeDateStamp == descriptor.timeStamp &&
           nt->OptionalHeader.ImageBase == reinterpret_cast<ULONG_PTR>(module);
}

}  // namespace

void SetDelayLoadLookupLocation(HKEY root, const char* keyPath) {
    ::AcquireSRWLockExclusive(&g_lookupLock);
    g_lookupRoot = root;
    lstrcpynA(g_lookupKeyPath, keyPath ? keyPath : "", static_cast<int>(kDelayLoadKeyPathCapacity));
    g_lookupKeyPathSet = true;
    ::ReleaseSRWLockExclusive(&g_lookupLock);
}

HKEY DelayLoadLookupRoot() {
    ::AcquireSRWLockShared(&g_lookupLock);
    const HKEY root = g_lookupRoot;
    ::ReleaseSRWLockShared(&g_lookupLock);
    return root;
}

std::string DelayLoadLookupKeyPath() {
    ::AcquireSRWLockShared(&g_lookupLock);
    const std::string path = g_lookupKeyPathSet ? std::string(g_lookupKeyPath) : std::string(kInitialLookupKeyPath);
    ::ReleaseSRWLockShared(&g_lookupLock);
    return path;
}

HMODULE FindAndLoadLibrary(const char* libraryName) {
    const wchar_t* const kFunction = L"FindAndLoadLibrary";
    const std::string name = libraryName ? libraryName : "";
    if (name.empty() || name.size() > MAX_PATH || name.find_first_of("\\/:") != std::string::npos) {
        LogMessage(KvQmtLogging::LogError, L"%s: '%s' is not a library file name", kFunction, AnsiToWide(name).c_str());
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DelayLoadSystemCalls& calls = CurrentDelayLoadSystemCalls();

    char programPath[MAX_PATH] = {};
    const DWORD length = calls.GetModuleFileNameA(nullptr, programPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::string besideProgram(programPath, length);
        const size_t slash = besideProgram.find_last_of('\\');
        if (slash != std::string::npos) {
            besideProgram.replace(slash + 1, std::string::npos, name);
            if (besideProgram.size() < MAX_PATH) {
                if (HMODULE module = LoadSignedBesideProgram(calls, besideProgram)) {
                    LogMessage(KvQmtLogging::LogInfo, L"%s: loaded %s", kFunction, AnsiToWide(besideProgram).c_str());
                    return module;
                }
            }
        }
    }

    const std::string registered = ReadRegisteredPath(calls, name);
    if (registered.empty()) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s is neither beside the program nor registered", kFunction,
                   AnsiToWide(name).c_str());
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = LoadByFullPath(calls, registered);
    if (module) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: loaded %s", kFunction, AnsiToWide(registered).c_str());
    } else {
        LogMessage(KvQmtLogging::LogError, L"%s: LoadLibraryExW(%s) failed with error %lu", kFunction,
                   AnsiToWide(registered).c_str(), ::GetLastError());
    }
    return module;
}

FARPROC ResolveDelayLoadedImport(const DelayLoadDescriptor& descriptor, size_t index) {
    const wchar_t* const kFunction = L"ResolveDelayLoadedImport";
    const std::string library = descriptor.libraryName ? descriptor.libraryName : "";
    if (!(descriptor.attributes & kDelayLoadRelativeAddresses) || library.empty() || !descriptor.module ||
        !descriptor.imports || index >= descriptor.importCount || !descriptor.imports[index].address) {
        LogMessage(KvQmtLogging::LogError, L"%s: bad descriptor of %s (entry %u)", kFunction,
                   AnsiToWide(library).c_str(), static_cast<unsigned>(index));
        throw DelayLoadError{kDelayLoadBadDescriptor, library, std::string(), ERROR_INVALID_PARAMETER};
    }
    DelayLoadImport& entry = descriptor.imports[index];
    const std::string entryName = entry.name ? entry.name : std::string();

    HMODULE module = static_cast<HMODULE>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(descriptor.module), nullptr, nullptr));
    if (!module) {
        module = FindAndLoadLibrary(library.c_str());
        if (!module) {
            const DWORD error = ::GetLastError();
            throw DelayLoadError{kDelayLoadLibraryNotFound, library, entryName, error};
        }
        // Another thread may have loaded it meanwhile: the slot keeps one
        // reference only.
        PVOID previous = InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(descriptor.module), module);
        if (previous == module) ::FreeLibrary(module);
    }

    FARPROC address = nullptr;
    if (BoundAddressesMatch(descriptor, module)) {
        address = descriptor.boundAddresses[index];
    } else {
        address = ::GetProcAddress(module, entry.name ? entry.name : MAKEINTRESOURCEA(entry.ordinal));
    }
    if (!address) {
        const DWORD error = ::GetLastError();
        if (entry.name) {
            LogMessage(KvQmtLogging::LogError, L"%s: %s has no entry %s, error %lu", kFunction,
                       AnsiToWide(library).c_str(), AnsiToWide(entryName).c_str(), error);
        } else {
            LogMessage(KvQmtLogging::LogError, L"%s: %s has no entry of ordinal %u, error %lu", kFunction,
                       AnsiToWide(library).c_str(), static_cast<unsigned>(entry.ordinal), error);
        }
        throw DelayLoadError{kDelayLoadEntryNotFound, library, entryName, error};
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(entry.address), reinterpret_cast<PVOID>(address));
    return address;
}

bool UnloadDelayLoadedLibrary(const DelayLoadDescriptor& descriptor) {
    if (!descriptor.module) return false;
    HMODULE module = static_cast<HMODULE>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(descriptor.module), nullptr));
    for (size_t i = 0; descriptor.imports && i < descriptor.importCount; ++i) {
        if (descriptor.imports[i].address) {
            InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(descriptor.imports[i].address), nullptr);
        }
    }
    if (!module) return false;
    ::FreeLibrary(module);
    return true;
}

FARPROC WINAPI LoadSystemLibraryOnFirstUse(unsigned notification, PDelayLoadInfo info) {
    const wchar_t* const kFunction = L"LoadSystemLibraryOnFirstUse";
    if (notification != dliNotePreLoadLibrary || info == nullptr) return nullptr;
    const std::wstring name = AnsiToWide(info->szDll ? info->szDll : "");
    DWORD error = ERROR_MOD_NOT_FOUND;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (!name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && length != 0 && length < MAX_PATH) {
        const std::wstring path = std::wstring(folder, length) + L'\\' + name;
        const HMODULE module =
            CurrentDelayLoadSystemCalls().LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module) return reinterpret_cast<FARPROC>(module);
        error = ::GetLastError();
    }
    // Returning nothing here would make the helper load the library by its
    // bare name, from the program's folder first.
    LogMessage(KvQmtLogging::LogError, L"%s: %s cannot be loaded from the system folder, error %lu", kFunction,
               name.c_str(), error);
    info->dwLastError = error;
    const ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    ::RaiseException(kDelayLoadLibraryNotFound, EXCEPTION_NONCONTINUABLE, 1, &argument);
    return nullptr;  // not reached: the exception cannot be continued
}

#include "hosts/RepairRecord.h"

#include "common/RegistryView.h"
#include "common/SddlSecurityAttributes.h"
#include "common/TrustedOwner.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

const wchar_t RepairRecord::kKey[] = L"SOFTWARE\\K-Vantor\\UpgradeTool\\InterruptedHostsRepair";

namespace {

const wchar_t kEtcPath[] = L"EtcFolder";
const wchar_t kEtcSecurity[] = L"EtcFolderSecurity";
const wchar_t kHostsPath[] = L"HostsFile";
const wchar_t kHostsSecurity[] = L"HostsFileSecurity";
const wchar_t kHostsAttributes[] = L"HostsFileAttributes";

const DWORD kRecordedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// Only SYSTEM and the Administrators; nothing inherited from above.
const wchar_t kKeySddl[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";
const ACCESS_MASK kKeyWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                    WRITE_OWNER;
constexpr DWORD kMaxValueBytes = 64 * 1024;

bool Put(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t size) {
    return ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
           ERROR_SUCCESS;
}

bool PutText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return Put(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// The value's bytes, when it has the expected type and a sane size.
bool Get(HKEY key, const wchar_t* name, DWORD expectedType, std::vector<BYTE>& data) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != expectedType ||
        size == 0 || size > kMaxValueBytes) {
        return false;
    }
    data.assign(size, 0);
    return ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS &&
           type == expectedType && size == data.size();
}

bool GetText(HKEY key, const wchar_t* name, std::wstring& text) {
    std::vector<BYTE> data;
    if (!Get(key, name, REG_SZ, data) || data.size() % sizeof(wchar_t) != 0) return false;
    text.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    // One terminator at the end and none inside.
    if (text.empty() || text.back() != L'\0') return false;
    text.pop_back();
    return !text.empty() && text.find(L'\0') == std::wstring::npos;
}

bool GetDescriptor(HKEY key, const wchar_t* name, std::vector<BYTE>& descriptor) {
    if (!Get(key, name, REG_BINARY, descriptor)) return false;
    PSECURITY_DESCRIPTOR sd = descriptor.data();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::IsValidSecurityDescriptor(sd) && ::GetSecurityDescriptorLength(sd) <= descriptor.size() &&
           ::GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_SELF_RELATIVE);
}

bool KeyIsAdministratorsOnly(HKEY key) {
    DWORD needed = 0;
    ::RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &needed);
    if (needed == 0) return false;
    std::vector<BYTE> descriptor(needed);
    return ::RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor.data(),
                               &needed) == ERROR_SUCCESS &&
           kv::OnlyTrustedCanWrite(descriptor.data(), kKeyWriteRights);
}

}  // namespace

bool RepairRecord::Save() const {
    const wchar_t* const kFunction = L"RepairRecord::Save";
    // Never one a former run or another account left: a fresh key.
    Remove();
    kv::SddlSecurityAttributes security(kKeySddl, kv::SddlSecurityAttributes::Dacl::Protected);
    kv::unique_hkey key;
    DWORD disposition = 0;
    LONG error = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_QUERY_VALUE | READ_CONTROL | kv::kProductRegistryView,
                                   security.get(), key.put(), &disposition);
    if (error == ERROR_SUCCESS && (disposition != REG_CREATED_NEW_KEY || !KeyIsAdministratorsOnly(key.get()))) {
        error = ERROR_ACCESS_DENIED;
    }
    const DWORD attributes = hostsAttributes & kRecordedAttributes;
    if (error == ERROR_SUCCESS &&
        !(PutText(key.get(), kEtcPath, etcPath) && Put(key.get(), kEtcSecurity, REG_BINARY, etcSecurity.data(),
                                                       etcSecurity.size()) &&
          PutText(key.get(), kHostsPath, hostsPath) &&
          Put(key.get(), kHostsSecurity, REG_BINARY, hostsSecurity.data(), hostsSecurity.size()) &&
          Put(key.get(), kHostsAttributes, REG_DWORD, &attributes, sizeof(attributes)))) {
        error = ERROR_WRITE_FAULT;
    }
    // On the disk before the first change is made.
    if (error == ERROR_SUCCESS) error = ::RegFlushKey(key.get());
    if (error != ERROR_SUCCESS) {
        LogMessage(KvQmtLogging::LogError, L"%s: Cannot record the permissions under HKLM\\%s, error %ld", kFunction,
                   kKey, error);
        key.reset();
        Remove();
        return false;
    }
    return true;
}

int RepairRecord::Load() {
    const wchar_t* const kFunction = L"RepairRecord::Load";
    kv::unique_hkey key;
    const LONG error = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0,
                                       KEY_QUERY_VALUE | READ_CONTROL | kv::kProductRegistryView, key.put());
    if (error == ERROR_FILE_NOT_FOUND) return None;
    if (error != ERROR_SUCCESS) {
        LogMessage(KvQmtLogging::LogError, L"%s: Cannot open HKLM\\%s, error %ld", kFunction, kKey, error);
        return Refused;
    }
    // It names the objects whose access lists are written: only an
    // administrator's record is followed.
    if (!KeyIsAdministratorsOnly(key.get())) {
        LogMessage(KvQmtLogging::LogError, L"%s: HKLM\\%s may be written by other accounts, not followed", kFunction,
                   kKey);
        return Refused;
    }
    std::vector<BYTE> attributes;
    if (!GetText(key.get(), kEtcPath, etcPath) || !GetDescriptor(key.get(), kEtcSecurity, etcSecurity) ||
        !GetText(key.get(), kHostsPath, hostsPath) || !GetDescriptor(key.get(), kHostsSecurity, hostsSecurity) ||
        !Get(key.get(), kHostsAttributes, REG_DWORD, attributes) || attributes.size() != sizeof(DWORD)) {
        LogMessage(KvQmtLogging::LogError, L"%s: HKLM\\%s is malformed, not followed", kFunction, kKey);
        return Refused;
    }
    hostsAttributes = *reinterpret_cast<const DWORD*>(attributes.data()) & kRecordedAttributes;
    return Loaded;
}

bool RepairRecord::Remove() {
    const LONG error = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, kv::kProductRegistryView, 0);
    // The tool's own key above it goes too, unless it holds other keys.
    std::wstring parent(kKey);
    parent.resize(parent.rfind(L'\\'));
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), kv::kProductRegistryView, 0);
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

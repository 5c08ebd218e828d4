#include "tests/hosts/HostsLocationFixture.h"

#include "common/UniqueHandle.h"

using testsupport::TempFolder;

namespace {

const wchar_t kKey[] = L"System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const wchar_t kValue[] = L"DataBasePath";

kv::unique_hkey OpenParameters() {
    kv::unique_hkey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    return key;
}

}  // namespace

void HostsLocationFixture::SetUp() {
    kv::unique_hkey key = OpenParameters();
    ASSERT_TRUE(key);
    DWORD size = 0;
    hadValue_ = ::RegQueryValueExW(key.get(), kValue, nullptr, &savedType_, nullptr, &size) == ERROR_SUCCESS;
    if (hadValue_) {
        savedData_.resize(size);
        ::RegQueryValueExW(key.get(), kValue, nullptr, &savedType_, savedData_.data(), &size);
    }
    // A run that died half-way left one of ours behind: the machine's own
    // value is the system folder.
    const std::wstring saved(reinterpret_cast<const wchar_t*>(savedData_.data()), savedData_.size() / 2);
    if (hadValue_ && saved.find(L"kvhosts-") != std::wstring::npos) {
        const std::wstring system = L"%SystemRoot%\\System32\\drivers\\etc";
        savedType_ = REG_EXPAND_SZ;
        savedData_.assign(reinterpret_cast<const BYTE*>(system.c_str()),
                          reinterpret_cast<const BYTE*>(system.c_str() + system.size() + 1));
    }
    folder_.reset(new TempFolder(L"etc"));
    SetString(folder_->path());
}

void HostsLocationFixture::TearDown() {
    kv::unique_hkey key = OpenParameters();
    if (hadValue_) {
        ::RegSetValueExW(key.get(), kValue, 0, savedType_, savedData_.data(), static_cast<DWORD>(savedData_.size()));
    } else {
        ::RegDeleteValueW(key.get(), kValue);
    }
    folder_.reset();
}

void HostsLocationFixture::SetValue(DWORD type, const void* data, DWORD size) {
    kv::unique_hkey key = OpenParameters();
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), kValue, 0, type, static_cast<const BYTE*>(data), size));
}

void HostsLocationFixture::SetString(const std::wstring& text, DWORD type) {
    SetValue(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void HostsLocationFixture::DeleteValue() {
    kv::unique_hkey key = OpenParameters();
    ::RegDeleteValueW(key.get(), kValue);
}

#pragma once
// Seeds and removes registry values under HKEY_LOCAL_MACHINE for tests. The
// default view is the 32-bit one the tool reads, whatever the word size of
// the test build; the 64-bit view is reached only when asked for.
#include <windows.h>

#include <string>

#include "common/RegistryView.h"
#include "common/UniqueHandle.h"

namespace testsupport {

enum class View { Program, Native64 };

inline REGSAM ViewFlag(View view) { return view == View::Native64 ? KEY_WOW64_64KEY : kv::kProductRegistryView; }

inline kv::unique_hkey CreateKey(const std::wstring& path, View view = View::Program) {
    kv::unique_hkey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | ViewFlag(view), nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

// Stores exactly the given bytes with the given type: data of any size,
// terminated or not.
inline bool SetRawValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
                        DWORD byteCount, View view = View::Program) {
    kv::unique_hkey key = CreateKey(path, view);
    return key && ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), byteCount) ==
                      ERROR_SUCCESS;
}

inline bool SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                      View view = View::Program) {
    return SetRawValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                       view);
}

inline bool SetDword(const std::wstring& path, const std::wstring& name, DWORD value, View view = View::Program) {
    return SetRawValue(path, name, REG_DWORD, &value, sizeof(value), view);
}

inline void DeleteValue(const std::wstring& path, const std::wstring& name, View view = View::Program) {
    kv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE | ViewFlag(view), key.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), name.c_str());
    } else {
        key.release();
    }
}

inline void DeleteTree(const std::wstring& path, View view = View::Program) {
    kv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | ViewFlag(view), key.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteTreeW(key.get(), nullptr);
        key.reset();
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), ViewFlag(view), 0);
    } else {
        key.release();
    }
}

// The text of a REG_SZ value; false when it is missing or of another type.
inline bool ReadString(const std::wstring& path, const std::wstring& name, std::wstring& text,
                       View view = View::Program) {
    kv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(view), key.put()) !=
        ERROR_SUCCESS) {
        key.release();
        return false;
    }
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    text = buffer;
    return true;
}

// The product's keys as the probes read them.
inline const wchar_t* QmtKey() { return L"SOFTWARE\\K-Vantor\\QMT"; }
inline const wchar_t* FamilyKey() { return L"SOFTWARE\\K-Vantor\\QMT\\IDConverter\\FamilyID_200"; }
inline const wchar_t* OperatorsKey() { return L"SOFTWARE\\K-Vantor\\Ovalis Agent\\Operators"; }

// Removes what the product tests seed, in both views, and nothing else under
// the QMT key (the log settings live there too).
inline void RemoveProductState() {
    for (View view : {View::Program, View::Native64}) {
        DeleteValue(QmtKey(), L"InstallerVersion", view);
        DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\IDConverter", view);
        DeleteTree(L"SOFTWARE\\K-Vantor\\Ovalis Agent", view);
    }
}

// A machine with the product installed at a version, with or without the
// retail operator and with an optional family mapping.
inline void SeedProduct(const std::wstring& version, bool retailOperator, const std::wstring& mapping = L"",
                        View view = View::Program) {
    SetString(QmtKey(), L"InstallerVersion", version, view);
    if (retailOperator) SetDword(OperatorsKey(), L"666", 1, view);
    if (!mapping.empty()) SetString(FamilyKey(), L"FamilyIDMapping", mapping, view);
}

}  // namespace testsupport

#pragma once
#include <windows.h>

#include <string>

#include "common/RegistryView.h"
#include "common/UniqueHandle.h"
#include "registry/Registry.h"

// The registry layer over the Win32 API. Every key is opened in the 32-bit
// view, where the product registers itself (RegistryView.h).
class Win32Registry : public Registry {
public:
    explicit Win32Registry(HKEY root = HKEY_LOCAL_MACHINE) : root_(root) {}

    bool WriteString(const std::string& keyPath, const std::string& valueName,
                     const std::string& text, int* error = nullptr) override;
    bool ReadString(const std::string& keyPath, const std::string& valueName,
                    std::wstring& text, int* error = nullptr) override;
    bool ReadDword(const std::string& keyPath, const std::string& valueName,
                   DWORD& value, int* error = nullptr) override;
    void SetRoot(HKEY root) override { root_ = root; }

    // The layer's error for a failed open or first query.
    static int MapOpenError(LONG status);

private:
    // Keys are never created here: a missing key is NotFound.
    kv::unique_hkey OpenKey(const std::string& keyPath, REGSAM access, int* error) const;

    HKEY root_;
};

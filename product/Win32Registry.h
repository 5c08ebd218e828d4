#pragma once
#include <windows.h>

#include <string>

#include "Registry.h"
#include "UniqueHandle.h"

// The registry layer over the Win32 API. No view flag is added to the access
// mask: the program is 32-bit, so on 64-bit Windows its keys are those of the
// 32-bit view, where the product registers itself. A build of another word
// size has to add KEY_WOW64_32KEY to reach the same keys.
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

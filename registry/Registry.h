#pragma once
// Registry access rooted at one predefined key. Callers build a Win32Registry
// on the stack, run one operation and drop it; tests of callers may hand in
// another implementation.
#include <windows.h>

#include <string>

// Delivered through the optional out-parameter of every operation.
struct RegistryError {
    enum : int {
        None = 0,
        NotFound = 1,
        WrongType = 2,
        Failed = 3,
        AccessDenied = 5,
    };
};

class Registry {
public:
    virtual ~Registry() = default;

    // Writes a REG_SZ value (terminating zero included) under an existing key.
    virtual bool WriteString(const std::string& keyPath, const std::string& valueName,
                             const std::string& text, int* error = nullptr) = 0;
    // Reads a REG_SZ value; text is left untouched on failure.
    virtual bool ReadString(const std::string& keyPath, const std::string& valueName,
                            std::wstring& text, int* error = nullptr) = 0;
    // Reads a REG_DWORD value; value is left untouched on failure.
    virtual bool ReadDword(const std::string& keyPath, const std::string& valueName,
                           DWORD& value, int* error = nullptr) = 0;
    virtual void SetRoot(HKEY root) = 0;
};

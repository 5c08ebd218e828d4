#pragma once
// Writes that fail the running test when they cannot be made: whole files
// given as byte vectors (and read back the same way), and registry values
// held for a scope. They are kept apart from TestFiles.h and TestRegistry.h,
// which the benchmarks use without GoogleTest.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

namespace testsupport {

// For tests that build or compare files byte by byte.
namespace bytes {

inline std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    const std::string content = testsupport::ReadBytes(path);
    return std::vector<unsigned char>(content.begin(), content.end());
}

inline void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& content) {
    ASSERT_TRUE(testsupport::WriteBytes(path, std::string(content.begin(), content.end())));
}

}  // namespace bytes

// A value under HKLM in the program's view, removed again when the object goes.
class ScopedRegistryValue {
public:
    ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD value)
        : ScopedRegistryValue(key, name, REG_DWORD, &value, sizeof(value)) {}
    ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size)
        : key_(key), name_(name) {
        EXPECT_TRUE(SetRawValue(key, name, type, data, size)) << "writing the test value";
    }
    ~ScopedRegistryValue() { DeleteValue(key_, name_); }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

private:
    std::wstring key_;
    std::wstring name_;
};

}  // namespace testsupport

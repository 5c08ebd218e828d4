#pragma once
// The registry of a machine for the upgrade road: the update agent's
// segmentation key, and where the product registers its IPC library. Clean()
// removes the product's state and both keys, before and after a test.
#include <string>

#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

namespace testsupport {

struct UpgradeMachine {
    static constexpr const wchar_t* kSegmentationsKey = L"SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations";
    static constexpr const wchar_t* kDelayLoadingKey = L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading\\100";

    static void Clean() {
        RemoveProductState();
        DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\KVAUA");
        DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading");
    }
    static bool CreateSegmentations() { return static_cast<bool>(CreateKey(kSegmentationsKey)); }
    // unixPath: the stand-in library as the build made it.
    static void RegisterLibrary(const char* unixPath) {
        SetString(kDelayLoadingKey, L"QMTIPC.dll", WindowsPath(unixPath));
    }
    // The operator the upgrade wrote, or nothing.
    static std::wstring Segmentation() {
        std::wstring text;
        ReadString(kSegmentationsKey, L"OPERATOR", text);
        return text;
    }
};

}  // namespace testsupport

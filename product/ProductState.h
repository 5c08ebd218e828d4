#pragma once
// What the installed product's registry says about its framework version and
// its retail operator. All reads go through the registry layer, rooted at
// HKEY_LOCAL_MACHINE in the program's (32-bit) view.
#include <string>

namespace ProductKeys {
constexpr const char* kQmtKey = "SOFTWARE\\K-Vantor\\QMT";
constexpr const char* kInstallerVersionValue = "InstallerVersion";
constexpr const char* kFamilyMappingKey = "SOFTWARE\\K-Vantor\\QMT\\IDConverter\\FamilyID_200";
constexpr const char* kFamilyMappingValue = "FamilyIDMapping";
constexpr const char* kOperatorsKey = "SOFTWARE\\K-Vantor\\Ovalis Agent\\Operators";
constexpr const char* kRetailOperatorValue = "666";
}  // namespace ProductKeys

// The installed framework version, unchanged; empty when it cannot be read.
std::wstring GetInstalledQMTVersion();

// Major and minor number of a dotted version of at least three parts; the
// out-parameters are written only on success.
bool ExtractVersions(const std::wstring& version, int& major, int& minor);

// True when the retail operator's value exists as a REG_DWORD (its number is not used).
bool DCOperatorPresent();

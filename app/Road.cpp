#include "app/Road.h"

#include "product/NX_Helpers.h"

namespace Road {

Kind Decide() {
    if (NX_Helpers::NXIsUpToDateAlready()) return UpToDate;
    if (NX_Helpers::UpgradeableHGInstalledForRetailOperator()) return UpgradeInPlace;
    return FreshInstall;
}

const wchar_t* Name(Kind road) {
    switch (road) {
        case UpToDate: return L"up to date";
        case UpgradeInPlace: return L"upgrade in place";
        case FreshInstall: return L"fresh install";
        case None: break;
    }
    return L"none";
}

int CheckExitCode(Kind road) {
    switch (road) {
        case UpToDate: return 0;
        case UpgradeInPlace: return 1;
        case FreshInstall: return 2;
        case None: break;
    }
    return 2;
}

}  // namespace Road

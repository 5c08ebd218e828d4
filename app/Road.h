#pragma once
// Which of the three roads a run takes on this machine. A real run and a
// check-only run decide it with the same function, so that a detection rule
// reports exactly what a deployment would do.
namespace Road {

enum Kind {
    None,            // no road was decided (help, another copy running)
    UpToDate,        // the NX product is installed and up to date
    UpgradeInPlace,  // an upgradeable product for the retail operator
    FreshInstall,    // anything else
};

// Reads the product's state; changes nothing. The up-to-date test comes
// first: an NX product is also upgradeable.
Kind Decide();

// "up to date", "upgrade in place", "fresh install", "none".
const wchar_t* Name(Kind road);

// The exit code of a check-only run: 0 up to date, 1 upgrade in place,
// 2 fresh install.
int CheckExitCode(Kind road);

}  // namespace Road

#pragma once
// The process exit codes, in the Windows Installer's conventions, which the
// scripts and distribution systems that deploy this tool already act on.
#include <windows.h>

namespace ExitCode {
constexpr int Success = 0;                                       // the road ended as it should
constexpr int UserClosedOffer = ERROR_INSTALL_USEREXIT;          // 1602: the upgrade was not accepted
constexpr int Failure = ERROR_INSTALL_FAILURE;                   // 1603: the failure window
constexpr int AnotherCopyRunning = ERROR_INSTALL_ALREADY_RUNNING;  // 1618
// Handed on from the installer an unattended run waited for.
constexpr int RestartRequired = ERROR_SUCCESS_REBOOT_REQUIRED;   // 3010
constexpr int RestartStarted = ERROR_SUCCESS_REBOOT_INITIATED;   // 1641
}  // namespace ExitCode

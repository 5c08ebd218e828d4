#include "Chg2013_dc_upgrade_forcerApp.h"

#include <commctrl.h>

#include <exception>

#include "ExitCode.h"
#include "KvQmtLog.h"
#include "Logger.h"
#include "NX_Helpers.h"
#include "OptionParser.h"
#include "UniqueHandle.h"

using namespace KvQmtLogging;

namespace {
constexpr int kScanguardAppId = 2;
}  // namespace

Chg2013_dc_upgrade_forcerApp::Chg2013_dc_upgrade_forcerApp(MembershipOperations& membership)
    : CWinApp(nullptr), m_membership(membership) {
    // Runs before the entry point: whatever error the runtime's start-up left
    // behind stays for it to see.
    const DWORD lastError = ::GetLastError();
    GetLogger().Configure(0, L"OvSA", L"dc_upgrade_tool");
    ::SetLastError(lastError);
}

Chg2013_dc_upgrade_forcerApp::~Chg2013_dc_upgrade_forcerApp() = default;

BOOL Chg2013_dc_upgrade_forcerApp::InitInstance() {
    const wchar_t* const self = L"Chg2013_dc_upgrade_forcerApp::InitInstance";
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    SetRegistryKey(L"K-Vantor HG upgrade tool");

    kv::unique_handle mutex = NX_Helpers::AllocateSingleInstanceMutex();
    if (!mutex) {
        LogMessage(LogError, L"%s: Another copy of this app already running! Exiting...", self);
        SetExitCode(ExitCode::AnotherCopyRunning);
        return FALSE;
    }
    // Released before the handle is closed: the destructors run in reverse order.
    kv::mutex_release heldMutex(mutex.get());

    ParseCommandLine();
    m_isScanguard = NX_Helpers::GetInstalledSecurityAppID() == kScanguardAppId;
    LogMessage(LogInfo, L"%s: Product family: %s", self, m_isScanguard ? L"Scanguard" : L"Homeguard");
    ChooseRoad();
    return FALSE;
}

void Chg2013_dc_upgrade_forcerApp::ChooseRoad() {
    // The up-to-date test comes first: an NX product is also upgradeable.
    if (NX_Helpers::NXIsUpToDateAlready()) {
        ShowNXIsUpToDateWindow();
    } else if (NX_Helpers::UpgradeableHGInstalledForRetailOperator()) {
        RunUpgradeRoad();
    } else {
        RunFreshInstallRoad();
    }
}

void Chg2013_dc_upgrade_forcerApp::RunUpgradeRoad() {
    if (IsUserAdministrator(m_membership)) {
        ShowUpgradeAvailableWindow();
        return;
    }
    LogMessage(LogWarning, L"%s: User is not administrator", L"Chg2013_dc_upgrade_forcerApp::InitInstance");
    ShowUpgradeFailedWindow();
}

void Chg2013_dc_upgrade_forcerApp::RunFreshInstallRoad() {
    const wchar_t* const self = L"Chg2013_dc_upgrade_forcerApp::InitInstance";
    LogMessage(LogInfo, L"%s: No up-to-date or upgradeable product found: fresh install", self);
    // Hosts repair and the installer download are not part of this build yet:
    // nothing was installed, so the run must not count as a success.
    LogMessage(LogError, L"%s: Fresh install is not available in this build; no installer was started", self);
    SetExitCode(ExitCode::Failure);
}

void Chg2013_dc_upgrade_forcerApp::ParseCommandLine() { m_language = LanguageOption(::GetCommandLineW()); }

std::wstring Chg2013_dc_upgrade_forcerApp::LanguageOption(const std::wstring& commandLine) {
    OptionParser parser;
    std::vector<ParsedOption> results;
    try {
        parser.AddOption(OptionSpec{L"lang", L'l', MandatoryArgument});
        parser.Parse(commandLine);
        results = parser.GetResults();
    } catch (const std::exception&) {
        // A malformed line counts for nothing, options found before the error included.
        return std::wstring();
    }
    std::wstring language;
    for (const ParsedOption& result : results) {
        if (result.name == L"lang") language = result.value;
    }
    return language;
}

// Until the dialog exists, each window routine logs its entry line and sets
// the exit code of the outcome it stands for; none shows a window yet.

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow() {
    LogMessage(LogInfo, L"%s: ", L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow");
    // No offer can be accepted yet, so nothing is upgraded: the road ends as
    // when the user closes the offer.
    SetExitCode(ExitCode::UserClosedOffer);
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow() {
    LogMessage(LogInfo, L"%s: ", L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow");
    SetExitCode(ExitCode::Failure);
}

void Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow() {
    LogMessage(LogInfo, L"%s: ", L"Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow");
    SetExitCode(ExitCode::Success);
}

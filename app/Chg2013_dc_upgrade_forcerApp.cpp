#include "app/Chg2013_dc_upgrade_forcerApp.h"

#include <commctrl.h>

#include "app/ExitCode.h"
#include "app/HelpDialog.h"
#include "app/ParentConsole.h"
#include "app/PleaseWaitWaiter.h"
#include "app/QuietWaiter.h"
#include "app/UpgradeDialog.h"
#include "common/LastErrorKeeper.h"
#include "common/UniqueHandle.h"
#include "hosts/HostsRepair.h"
#include "localization/CustLoc.h"
#include "localization/Language.h"
#include "log/KvQmtLog.h"
#include "log/LogSettings.h"
#include "log/Logger.h"
#include "product/NX_Helpers.h"
#include "product/UpdateTrigger.h"
#include "stub/ActiveUserProxy.h"
#include "stub/MachinePolicy.h"
#include "stub/StubInstaller.h"

using namespace KvQmtLogging;

namespace {
constexpr int kScanguardAppId = 2;
constexpr WORD kStringTableId = 130;

// Makes a dialog the application's main window for as long as it runs.
class MainWindowScope {
public:
    MainWindowScope(CWinApp& app, CWnd* window, bool active) : app_(app), active_(active) {
        if (active_) app_.m_pMainWnd = window;
    }
    ~MainWindowScope() {
        if (active_) app_.m_pMainWnd = nullptr;
    }
    MainWindowScope(const MainWindowScope&) = delete;
    MainWindowScope& operator=(const MainWindowScope&) = delete;

private:
    CWinApp& app_;
    bool active_;
};

}  // namespace

Chg2013_dc_upgrade_forcerApp::Chg2013_dc_upgrade_forcerApp(MembershipOperations& membership,
                                                           WindowStationOperations& station,
                                                           EventLogOperations& events)
    : m_membership(membership), m_station(station), m_events(events) {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::Chg2013_dc_upgrade_forcerApp";
    // Runs before the entry point: whatever error the runtime's start-up left
    // behind stays for it to see.
    {
        kv::LastErrorKeeper keeper;
        // The copy is opened before the log starts, so that it holds every
        // line of the run from the start marker on.
        const std::wstring copy = RunOptions::Read(::GetCommandLineW()).logFile;
        const DWORD copyError = copy.empty() ? ERROR_SUCCESS : GetLogger().CopyTo(copy.c_str());
        GetLogger().Configure(0, L"OvSA", L"dc_upgrade_tool");
        if (copyError != ERROR_SUCCESS) {
            LogMessage(LogError, L"%s: The log copy '%s' cannot be written, error %lu; the run goes on without it",
                       kFunction, copy.c_str(), copyError);
        } else if (!copy.empty()) {
            m_logCopy = copy;
            LogMessage(LogInfo, L"%s: The lines of this run also go to '%s'", kFunction, copy.c_str());
        }
    }
    m_pCustLoc = CustLoc::Instance();
}

Chg2013_dc_upgrade_forcerApp::~Chg2013_dc_upgrade_forcerApp() = default;

BOOL Chg2013_dc_upgrade_forcerApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    SetRegistryKey(L"K-Vantor HG upgrade tool");
    // Read before the mutex is taken: help needs no lock, and a quiet run
    // that finds another copy says in the log that it was quiet.
    ParseCommandLine();
    RunJob();
    ReportRun();
    return FALSE;
}

void Chg2013_dc_upgrade_forcerApp::RunJob() {
    // Logs under the name of its caller, Chg2013_dc_upgrade_forcerApp::InitInstance.
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::InitInstance";
    // A check comes before help: a detection rule must never read help's 0
    // as "up to date".
    if (m_checkOnly) {
        CheckRoad();
        return;
    }
    if (m_helpRequested) {
        LoadTexts();
        m_isScanguard = NX_Helpers::GetInstalledSecurityAppID() == kScanguardAppId;
        ShowHelp();
        SetExitCode(ExitCode::Success);
        return;
    }

    const SingleInstanceLock lock = NX_Helpers::AllocateSingleInstanceMutex();
    if (!lock) {
        LogMessage(LogError, L"%s: Another copy of this app already running! Exiting...", kFunction);
        SetExitCode(ExitCode::AnotherCopyRunning);
        return;
    }
    // A repair whose process died left the hosts file's permissions open;
    // they are put back before anything else, whichever road follows.
    RestoreAfterInterruptedRepair();

    LoadTexts();
    m_isScanguard = NX_Helpers::GetInstalledSecurityAppID() == kScanguardAppId;
    LogMessage(LogInfo, L"%s: Product family: %s", kFunction, m_isScanguard ? L"Scanguard" : L"Homeguard");
    ChooseRoad();
}

void Chg2013_dc_upgrade_forcerApp::CheckRoad() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::CheckRoad";
    // No lock: a check changes nothing, and a detection rule that runs while
    // a deployment is under way must still get its answer.
    m_road = Road::Decide();
    const int exitCode = Road::CheckExitCode(m_road);
    wchar_t line[96] = {};
    _snwprintf(line, 95, L"K-Vantor NX upgrade check: %s (exit code %d)", Road::Name(m_road), exitCode);
    const bool shown = ParentConsole::WriteLine(line);
    LogMessage(LogInfo, L"%s: Check only, nothing changed: %s%s", kFunction, line,
               shown ? L"" : L" (no console or standard output to write it to)");
    SetExitCode(exitCode);
}

void Chg2013_dc_upgrade_forcerApp::ReportRun() {
    RunSummary run;
    run.road = m_road;
    run.checkOnly = m_checkOnly;
    run.exitCode = ExitCode();
    BuildLogPath(L"OvSA", L"dc_upgrade_tool", run.logPath);
    run.logCopy = m_logCopy;
    RunEvent::Report(run, m_events);
}

void Chg2013_dc_upgrade_forcerApp::LoadTexts() {
    // A table that cannot be read leaves every text as "#" and its key; the
    // flow goes on, for the road itself does not depend on the texts.
    m_pCustLoc->ParseResources(AfxGetResourceHandle(), kStringTableId);
    // A language from the command line is taken as it is, unchecked.
    m_pCustLoc->SetLanguage(m_language.empty() ? Language::GetDisplayLanguage() : m_language);
}

void Chg2013_dc_upgrade_forcerApp::ChooseRoad() {
    m_road = Road::Decide();
    switch (m_road) {
        case Road::UpToDate: ShowNXIsUpToDateWindow(); break;
        case Road::UpgradeInPlace: RunUpgradeRoad(); break;
        case Road::FreshInstall: RunFreshInstallRoad(); break;
        case Road::None: break;
    }
}

void Chg2013_dc_upgrade_forcerApp::RunUpgradeRoad() {
    // Logs under the name of its caller, Chg2013_dc_upgrade_forcerApp::InitInstance.
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::InitInstance";
    if (IsUserAdministrator(m_membership)) {
        ShowUpgradeAvailableWindow();
        return;
    }
    LogMessage(LogWarning, L"%s: User is not administrator", kFunction);
    ShowUpgradeFailedWindow();
}

void Chg2013_dc_upgrade_forcerApp::RunFreshInstallRoad() {
    // Logs under the name of its caller, Chg2013_dc_upgrade_forcerApp::InitInstance.
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::InitInstance";
    LogMessage(LogInfo, L"%s: No up-to-date or upgradeable product found: fresh install", kFunction);
    if (!FixHosts()) {
        ShowUpgradeFailedWindow();
        return;
    }
    UpgradeDialog pleaseWait;
    InitDialogTexts(pleaseWait);
    pleaseWait.m_message = m_pCustLoc->GetString(L"PleaseWait");
    pleaseWait.m_waitMode = true;
    // One read of the policy for the installer's source and the proxy.
    const MachinePolicy policy = ReadMachinePolicy();
    const InstallerLaunch launch = MakeInstallerLaunch(policy);
    UseProxyFromActiveUser(Win32SessionApi::Instance(), policy, DownloadUrlOf(launch));
    PleaseWaitWaiter windowWaiter(pleaseWait);
    QuietWaiter quietWaiter;
    if (m_mode == RunMode::Quiet) {
        LogMessage(LogInfo, L"%s: Quiet run: window PleaseWait not shown", kFunction);
    }
    DownloadWaiter& waiter = m_mode == RunMode::Quiet ? static_cast<DownloadWaiter&>(quietWaiter) : windowWaiter;
    EndWithInstallerOutcome(DownloadAndRunStub(waiter, launch));
}

InstallerLaunch Chg2013_dc_upgrade_forcerApp::MakeInstallerLaunch(const MachinePolicy& policy) const {
    InstallerLaunch launch;
    launch.source = PolicyOverOption(L"InstallerSource", policy.installerSource, L"--source", m_installerSource);
    launch.arguments =
        PolicyOverOption(L"InstallerArguments", policy.installerArguments, L"--installer-args", m_installerArguments);
    // A distribution system reads the outcome from the exit code, so an
    // unattended run waits for it; a person at the screen sees it.
    launch.waitForEnd = m_mode != RunMode::Interactive;
    return launch;
}

void Chg2013_dc_upgrade_forcerApp::EndWithInstallerOutcome(const InstallerOutcome& outcome) {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::EndWithInstallerOutcome";
    switch (outcome.state) {
        case InstallerOutcome::Started:
            SetExitCode(ExitCode::Success);
            return;
        case InstallerOutcome::Ended: {
            const int code = static_cast<int>(outcome.exitCode);
            if (code == ExitCode::Success || code == ExitCode::RestartRequired || code == ExitCode::RestartStarted) {
                SetExitCode(code);
                return;
            }
            LogMessage(LogError, L"%s: The installer failed with exit code %lu; the run ends with %d", kFunction,
                       outcome.exitCode, ExitCode::Failure);
            break;
        }
        case InstallerOutcome::StillRunning:
            LogMessage(LogError, L"%s: The installer's outcome is unknown; the run ends with %d", kFunction,
                       ExitCode::Failure);
            break;
        case InstallerOutcome::NotStarted:
            break;
    }
    ShowUpgradeFailedWindow();
}

void Chg2013_dc_upgrade_forcerApp::ParseCommandLine() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ParseCommandLine";
    const RunOptions options = RunOptions::Read(::GetCommandLineW());
    m_language = options.language;
    m_mode = options.mode;
    m_helpRequested = options.help;
    m_installerSource = options.installerSource;
    m_installerArguments = options.installerArguments;
    m_checkOnly = options.check;
    // A check shows nothing whatever the station.
    if (m_checkOnly) return;
    if (m_mode != RunMode::Quiet && !HasVisibleWindowStation(m_station)) {
        LogMessage(LogWarning,
                   L"%s: The window station is not visible (a service, a scheduled task or session 0): nobody could "
                   L"answer a window, so the run is quiet",
                   kFunction);
        m_mode = RunMode::Quiet;
    }
    if (m_mode != RunMode::Interactive) {
        LogMessage(LogInfo, L"%s: %s run: %s", kFunction, m_mode == RunMode::Quiet ? L"Quiet" : L"Passive",
                   m_mode == RunMode::Quiet ? L"no window is shown" : L"no window waits for input");
    }
}

void Chg2013_dc_upgrade_forcerApp::ShowHelp() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ShowHelp";
    LogMessage(LogInfo, L"%s: ", kFunction);
    HelpDialog help;
    help.m_text = HelpDialog::Text(*m_pCustLoc);
    if (m_mode == RunMode::Quiet) {
        // Nobody sees a window: the text goes to the log, line by line.
        LogMessage(LogInfo, L"%s: Quiet run: help window not shown", kFunction);
        for (size_t start = 0; start < help.m_text.size();) {
            const size_t end = help.m_text.find(L"\r\n", start);
            LogMessage(LogInfo, L"%s: %s", kFunction, help.m_text.substr(start, end - start).c_str());
            start = end == std::wstring::npos ? help.m_text.size() : end + 2;
        }
        return;
    }
    help.m_title = m_pCustLoc->GetString(m_isScanguard ? L"Product_SG" : L"Product_HG");
    help.m_closeText = m_pCustLoc->GetString(L"Close");
    if (m_mode == RunMode::Passive) help.m_closeAfterMs = kPassiveWindowMs;
    const MainWindowScope mainWindow(*this, &help, true);
    help.DoModal();
}

void Chg2013_dc_upgrade_forcerApp::InitDialogTexts(UpgradeDialog& dialog) {
    dialog.m_title = m_pCustLoc->GetString(m_isScanguard ? L"Product_SG" : L"Product_HG");
    dialog.m_closeText = m_pCustLoc->GetString(L"Close");
    dialog.m_upgradeText = m_pCustLoc->GetString(L"Upgrade");
    dialog.m_waitMode = false;
    dialog.m_upgradeOffered = false;
}

INT_PTR Chg2013_dc_upgrade_forcerApp::RunWindow(const wchar_t* caller, const wchar_t* messageKey, bool offerUpgrade,
                                                bool asMainWindow) {
    LogMessage(LogInfo, L"%s: ", caller);
    if (m_mode == RunMode::Quiet) {
        LogMessage(LogInfo, L"%s: Quiet run: window %s not shown", caller, messageKey);
        return IDCANCEL;
    }
    UpgradeDialog dialog;
    InitDialogTexts(dialog);
    dialog.m_message = m_pCustLoc->GetString(messageKey);
    dialog.m_upgradeOffered = offerUpgrade;
    if (m_mode == RunMode::Passive) dialog.m_closeAfterMs = kPassiveWindowMs;
    const MainWindowScope mainWindow(*this, &dialog, asMainWindow);
    return dialog.DoModal();
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow";
    INT_PTR result = IDOK;
    if (m_mode == RunMode::Interactive) {
        result = RunWindow(kFunction, L"UpgradeAvailable", true, false);
    } else {
        // The unattended option is the administrator's consent to the upgrade.
        LogMessage(LogInfo, L"%s: ", kFunction);
        LogMessage(LogInfo, L"%s: %s run: window UpgradeAvailable not shown, the upgrade is taken", kFunction,
                   m_mode == RunMode::Quiet ? L"Quiet" : L"Passive");
    }
    LogMessage(LogInfo, L"%s: UpgradeAvailable returned %d", kFunction, static_cast<int>(result));
    if (result != IDOK) {
        SetExitCode(ExitCode::UserClosedOffer);
        return;
    }
    // Each action runs whatever the one before it gave: the trigger is sent
    // even when the cache edit failed; the segmentation's result is not used.
    AddOperatorIDSegmentation();
    const bool cacheEdited = ModifyVRKSCache();
    const bool triggered = TriggerUpdate();
    if (cacheEdited && triggered) {
        ShowUpgradeInProgressWindow();
    } else {
        ShowUpgradeFailedWindow();
    }
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow";
    RunWindow(kFunction, L"UpgradeFailed", false, true);
    SetExitCode(ExitCode::Failure);
}

void Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow";
    RunWindow(kFunction, L"UpToDate", false, true);
    SetExitCode(ExitCode::Success);
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeInProgressWindow() {
    const wchar_t* const kFunction = L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeInProgressWindow";
    const INT_PTR result = RunWindow(kFunction, L"UpgradingPleaseWait", false, true);
    LogMessage(LogInfo, L"%s: UpgradeInProgress returned %d", kFunction, static_cast<int>(result));
    SetExitCode(ExitCode::Success);
}

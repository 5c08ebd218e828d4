#include "Chg2013_dc_upgrade_forcerApp.h"

#include <commctrl.h>

#include <exception>

#include "ActiveUserProxy.h"
#include "CustLoc.h"
#include "ExitCode.h"
#include "HostsRepair.h"
#include "KvQmtLog.h"
#include "Language.h"
#include "Logger.h"
#include "NX_Helpers.h"
#include "OptionParser.h"
#include "PleaseWaitWaiter.h"
#include "StubInstaller.h"
#include "UniqueHandle.h"
#include "UpdateTrigger.h"
#include "UpgradeDialog.h"

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

Chg2013_dc_upgrade_forcerApp::Chg2013_dc_upgrade_forcerApp(MembershipOperations& membership)
    : CWinApp(nullptr), m_membership(membership) {
    // Runs before the entry point: whatever error the runtime's start-up left
    // behind stays for it to see.
    const DWORD lastError = ::GetLastError();
    GetLogger().Configure(0, L"OvSA", L"dc_upgrade_tool");
    ::SetLastError(lastError);
    m_pCustLoc = CustLoc::Instance();
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
    LoadTexts();
    m_isScanguard = NX_Helpers::GetInstalledSecurityAppID() == kScanguardAppId;
    LogMessage(LogInfo, L"%s: Product family: %s", self, m_isScanguard ? L"Scanguard" : L"Homeguard");
    ChooseRoad();
    return FALSE;
}

void Chg2013_dc_upgrade_forcerApp::LoadTexts() {
    // A table that cannot be read leaves every text as "#" and its key; the
    // flow goes on, for the road itself does not depend on the texts.
    m_pCustLoc->ParseResources(AfxGetResourceHandle(), kStringTableId);
    // A language from the command line is taken as it is, unchecked.
    m_pCustLoc->SetLanguage(m_language.empty() ? Language::GetDisplayLanguage() : m_language);
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
    if (!FixHosts()) {
        ShowUpgradeFailedWindow();
        return;
    }
    UpgradeDialog pleaseWait;
    InitDialogTexts(pleaseWait);
    pleaseWait.m_message = m_pCustLoc->GetString(L"PleaseWait");
    pleaseWait.m_waitMode = true;
    UseProxyFromActiveUser();
    PleaseWaitWaiter waiter(pleaseWait);
    if (!DownloadAndRunStub(waiter)) {
        ShowUpgradeFailedWindow();
        return;
    }
    SetExitCode(ExitCode::Success);
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

void Chg2013_dc_upgrade_forcerApp::InitDialogTexts(UpgradeDialog& dialog) {
    dialog.m_title = m_pCustLoc->GetString(m_isScanguard ? L"Product_SG" : L"Product_HG");
    dialog.m_closeText = m_pCustLoc->GetString(L"Close");
    dialog.m_upgradeText = m_pCustLoc->GetString(L"Upgrade");
    dialog.m_waitMode = false;
    dialog.m_upgradeOffered = false;
}

INT_PTR Chg2013_dc_upgrade_forcerApp::RunWindow(const wchar_t* routine, const wchar_t* messageKey, bool offerUpgrade,
                                                bool asMainWindow) {
    LogMessage(LogInfo, L"%s: ", routine);
    UpgradeDialog dialog;
    InitDialogTexts(dialog);
    dialog.m_message = m_pCustLoc->GetString(messageKey);
    dialog.m_upgradeOffered = offerUpgrade;
    const MainWindowScope mainWindow(*this, &dialog, asMainWindow);
    return dialog.DoModal();
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow() {
    const wchar_t* const self = L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow";
    const INT_PTR result = RunWindow(self, L"UpgradeAvailable", true, false);
    LogMessage(LogInfo, L"%s: UpgradeAvailable returned %d", self, static_cast<int>(result));
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
    RunWindow(L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeFailedWindow", L"UpgradeFailed", false, true);
    SetExitCode(ExitCode::Failure);
}

void Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow() {
    RunWindow(L"Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow", L"UpToDate", false, true);
    SetExitCode(ExitCode::Success);
}

void Chg2013_dc_upgrade_forcerApp::ShowUpgradeInProgressWindow() {
    const wchar_t* const self = L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeInProgressWindow";
    const INT_PTR result = RunWindow(self, L"UpgradingPleaseWait", false, true);
    LogMessage(LogInfo, L"%s: UpgradeInProgress returned %d", self, static_cast<int>(result));
    SetExitCode(ExitCode::Success);
}

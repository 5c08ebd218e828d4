#pragma once
// The application object: its start-up routine runs the whole job on the
// main thread and returns FALSE, so that no message loop follows.
#include <string>

#include "app/Road.h"
#include "app/RunEvent.h"
#include "app/RunOptions.h"
#include "app/WinApp.h"
#include "app/WindowStation.h"
#include "product/AdministratorCheck.h"
#include "stub/MachinePolicy.h"
#include "stub/StubInstaller.h"

class CustLoc;
class UpgradeDialog;

class Chg2013_dc_upgrade_forcerApp : public CWinApp {
public:
    // Configures the process-wide logger (and its copy, when the command
    // line names one). The membership, window-station and event-log tables
    // are the system's except in tests of what Wine cannot show (a user who
    // is not an administrator, a station nobody sees, the event written).
    explicit Chg2013_dc_upgrade_forcerApp(MembershipOperations& membership = SystemMembershipOperations(),
                                          WindowStationOperations& station = SystemWindowStationOperations(),
                                          EventLogOperations& events = SystemEventLogOperations());
    ~Chg2013_dc_upgrade_forcerApp() override;

    BOOL InitInstance() override;

    CustLoc* m_pCustLoc = nullptr;
    std::wstring m_language;
    bool m_isScanguard = false;
    RunMode m_mode = RunMode::Interactive;
    bool m_helpRequested = false;
    std::wstring m_installerSource;     // --source
    std::wstring m_installerArguments;  // --installer-args
    bool m_checkOnly = false;
    Road::Kind m_road = Road::None;
    // The file of --log while it receives the run's lines; empty otherwise.
    std::wstring m_logCopy;

    // How long a window of a passive run stays before it closes by itself.
    static constexpr UINT kPassiveWindowMs = 5000;

private:
    void ParseCommandLine();
    void RunJob();
    // Decides the road and says which, without changing anything.
    void CheckRoad();
    // The run's event in the Application log.
    void ReportRun();
    void LoadTexts();
    void ChooseRoad();
    void RunUpgradeRoad();
    void RunFreshInstallRoad();
    // Where the installer comes from and what it is given (policy over
    // options), and whether the run waits for it.
    InstallerLaunch MakeInstallerLaunch(const MachinePolicy& policy) const;
    // The exit code for what became of the installer: 0, 3010 and 1641 as
    // the installer gave them, the failure window (1603) for all else.
    void EndWithInstallerOutcome(const InstallerOutcome& outcome);
    // The help window, or in a quiet run the help text in the log.
    void ShowHelp();

    // The caption and the button texts that every window shows.
    void InitDialogTexts(UpgradeDialog& dialog);
    // One modal run of a window of the normal mode with the text of messageKey;
    // in a passive run it closes by itself, in a quiet run it is only logged
    // (and counts as closed). Logs under the name of its caller, passed in.
    INT_PTR RunWindow(const wchar_t* caller, const wchar_t* messageKey, bool offerUpgrade, bool asMainWindow);
    void ShowUpgradeAvailableWindow();
    void ShowUpgradeFailedWindow();
    void ShowNXIsUpToDateWindow();
    void ShowUpgradeInProgressWindow();

    MembershipOperations& m_membership;
    WindowStationOperations& m_station;
    EventLogOperations& m_events;
};

#pragma once
// The application object: its start-up routine runs the whole job on the
// main thread and returns FALSE, so that no message loop follows.
#include <string>

#include "AdministratorCheck.h"
#include "WinApp.h"

class Chg2013_dc_upgrade_forcerApp : public CWinApp {
public:
    // Configures the process-wide logger. The membership table is the
    // system's except in tests of the non-administrator road.
    explicit Chg2013_dc_upgrade_forcerApp(MembershipOperations& membership = SystemMembershipOperations());
    ~Chg2013_dc_upgrade_forcerApp() override;

    BOOL InitInstance() override;

    // The value of the lang option of a command line (program path first);
    // empty when the option is absent or the line is malformed in any way.
    static std::wstring LanguageOption(const std::wstring& commandLine);

    std::wstring m_language;
    bool m_isScanguard = false;

private:
    void ParseCommandLine();
    void ChooseRoad();
    void RunUpgradeRoad();
    void RunFreshInstallRoad();

    void ShowUpgradeAvailableWindow();
    void ShowUpgradeFailedWindow();
    void ShowNXIsUpToDateWindow();

    MembershipOperations& m_membership;
};

#pragma once
// The folder that holds the hosts file: the TCP/IP database path from the
// registry with its environment references expanded, else the system root's
// drivers\etc folder. Resolved once, when the object is made.
#include <string>

class HostsPath {
public:
    HostsPath();

    // Empty when neither source gave a folder.
    const std::wstring& directory() const { return directory_; }
    // The names are appended as they stand: the fallback folder ends with a
    // backslash, so its file path has two before the name (Windows takes it).
    std::wstring hostsFilePath() const { return directory_ + L"\\hosts"; }
    std::wstring backupFilePath() const { return directory_ + L"\\hosts.bak"; }

    static bool filePathFromRegistry(std::wstring& directory);
    static void defaultFilePath(std::wstring& directory);

private:
    std::wstring directory_;
};

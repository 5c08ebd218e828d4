#pragma once
// Checks and repairs the hosts file: the maker's lines are removed after the
// content as read has been saved beside it as hosts.bak.
#include "hosts/ContentAnalyzer.h"
#include "hosts/File.h"
#include "hosts/HostsPath.h"

class HostsFix {
public:
    // Resolves the hosts folder at once.
    HostsFix() = default;
    virtual ~HostsFix() = default;
    HostsFix(const HostsFix&) = delete;
    HostsFix& operator=(const HostsFix&) = delete;

    const HostsPath& path() const { return path_; }
    ContentAnalyzer& analyzer() { return analyzer_; }

    // 0 the file needs repair, 1 it is correct or missing, 2 it could not be read.
    int hostsFileNeedsRepair();
    // 0 nothing changed (missing, or no corrupted line), 1 repaired, 2 a read or write failed.
    int fixHostsFile();
    // The same codes, for lines already read from the hosts file.
    int processContent(const LineList& lines);

protected:
    // Writes lines into a file; the backup and the rewrite write through it
    // into the temporary file that then replaces the backup or the hosts file.
    virtual int writeLines(const File& file, const LineList& lines) const;

private:
    // Logs under the name of its caller, passed in.
    bool exists(const std::wstring& hostsPath, const wchar_t* caller) const;
    bool replaceContent(const std::wstring& path, const LineList& lines) const;

    HostsPath path_;
    ContentAnalyzer analyzer_;
};

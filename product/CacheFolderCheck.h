#pragma once
// The package cache lies below the common application-data folder, where
// every account may create folders. Before the elevated tool edits it,
// every folder between that folder and the cache must be one that no other
// account made or can swap: no link (junction, symbolic link or mount
// point), and owned by SYSTEM or the Administrators. The cache file itself
// must be no link either.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

// The two questions asked of each folder, replaceable as a whole: links
// and owners are not kept by every platform the tool is tested on. The real
// program always uses this table itself.
class CacheFolderChecks {
public:
    virtual ~CacheFolderChecks() = default;
    // True when the object at path is a link or is reached through one.
    virtual bool IsReachedThroughLink(const std::wstring& path);
    // The owner of a file or folder, in a descriptor from the local heap.
    virtual bool ReadOwner(const std::wstring& path, kv::unique_hlocal& descriptor);
};

CacheFolderChecks& CurrentCacheFolderChecks();

// Puts another table in place for the lifetime of this object (tests only).
class ScopedCacheFolderChecks {
public:
    explicit ScopedCacheFolderChecks(CacheFolderChecks& checks);
    ~ScopedCacheFolderChecks();
    ScopedCacheFolderChecks(const ScopedCacheFolderChecks&) = delete;
    ScopedCacheFolderChecks& operator=(const ScopedCacheFolderChecks&) = delete;

private:
    CacheFolderChecks* previous_;
};

// True when the cache at `root` + `subPath` may be edited; a refusal is
// logged with the folder that caused it.
bool CacheLocationIsSafe(const std::wstring& root, const std::wstring& subPath);

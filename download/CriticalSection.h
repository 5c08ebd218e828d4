#pragma once
// A critical section and its scoped hold.
#include <windows.h>

namespace QmtDownload {

class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { ::EnterCriticalSection(&section_); }
    void Leave() { ::LeaveCriticalSection(&section_); }
    CRITICAL_SECTION* native() { return &section_; }

private:
    CRITICAL_SECTION section_;
};

class CriticalSectionHold {
public:
    explicit CriticalSectionHold(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~CriticalSectionHold() { section_.Leave(); }
    CriticalSectionHold(const CriticalSectionHold&) = delete;
    CriticalSectionHold& operator=(const CriticalSectionHold&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace QmtDownload

#pragma once
// Finds the hosts lines that name the maker: a line that is not a comment and
// whose text before its first "#" holds one of the patterns, letters compared
// without regard to case.
#include <cstdint>
#include <string>
#include <vector>

#include "hosts/FileReaderWriter.h"

class ContentAnalyzer {
public:
    // The caller's own patterns, searched before the built-in ones. They are
    // compared as given (the line is upper-cased, the pattern is not). An
    // empty pattern would match every line and is left out.
    void setPatterns(const std::vector<std::wstring>& patterns);
    const std::vector<std::wstring>& patterns() const { return patterns_; }

    // The number of corrupted lines. kept receives the other lines unchanged,
    // indices the positions of the corrupted ones (every line counts); both
    // may be null.
    int fixContent(const LineList& lines, LineList* kept, std::vector<int32_t>* indices) const;

    bool isCorrupted(const std::wstring& line) const;

private:
    std::vector<std::wstring> patterns_;
};

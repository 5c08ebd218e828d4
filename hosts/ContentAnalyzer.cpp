#include "hosts/ContentAnalyzer.h"

#include "log/KvQmtLog.h"

namespace {

const wchar_t kCommentMarker = L'#';
const wchar_t* const kBuiltInPatterns[] = {L"K-VANTOR", L"KVANTOR"};

// The classic "C" locale's mapping: only a-z change. Done here rather than by
// the runtime so that no other locale or runtime table can change a byte
// such as 0xFF into a unit that no longer fits the file.
std::wstring UpperCased(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

}  // namespace

void ContentAnalyzer::setPatterns(const std::vector<std::wstring>& patterns) {
    patterns_.clear();
    for (const std::wstring& pattern : patterns) {
        if (!pattern.empty()) patterns_.push_back(pattern);
    }
}

bool ContentAnalyzer::isCorrupted(const std::wstring& line) const {
    // No blanks are skipped: "   #..." is examined, and its text before the
    // marker holds nothing.
    if (line.empty() || line[0] == kCommentMarker) return false;
    const std::wstring text = UpperCased(line.substr(0, line.find(kCommentMarker)));
    for (const std::wstring& pattern : patterns_) {
        if (text.find(pattern) != std::wstring::npos) return true;
    }
    for (const wchar_t* pattern : kBuiltInPatterns) {
        if (text.find(pattern) != std::wstring::npos) return true;
    }
    return false;
}

int ContentAnalyzer::fixContent(const LineList& lines, LineList* kept, std::vector<int32_t>* indices) const {
    const wchar_t* const kFunction = L"ContentAnalyzer::fixContent";
    int count = 0;
    int32_t position = 0;
    for (const std::wstring& line : lines) {
        if (isCorrupted(line)) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogDebug, L"%s: Corrupted line has been found: %s",
                                     kFunction, line.c_str());
            if (indices) indices->push_back(position);
            ++count;
        } else if (kept) {
            kept->push_back(line);
        }
        ++position;
    }
    return count;
}

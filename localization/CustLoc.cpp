#include "localization/CustLoc.h"

#include <cstdlib>
#include <cwctype>
#include <new>

#include "common/ProcessWide.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

namespace {

bool StartsName(wchar_t c) { return c >= 0x41 && c <= 0x7A; }

// Tab, the printable ASCII and Latin-1 characters, and whatever else the
// runtime counts as printable may stand in a name.
bool IsNameCharacter(wchar_t c) {
    if (c == L'\t') return true;
    if (c <= 0x1F) return false;
    if (c >= 0x7F && c <= 0x9F) return false;
    if (c <= 0xFF) return true;
    return iswprint(c) != 0;
}

std::wstring LowerCased(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

}  // namespace

CustLoc* CustLoc::Instance() { return &kv::ProcessWide<CustLoc>::Get(); }

bool CustLoc::ParseResources(HMODULE module, WORD resourceId) {
    const wchar_t* const kFunction = L"CustLoc::ParseResources";
    table_.clear();
    LogMessage(KvQmtLogging::LogDebug, L"%s: Starting to parse localized properties", kFunction);
    if (ParseSingleResource(module, *this, resourceId)) return true;
    LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to parse localized properties", kFunction);
    return false;
}

bool CustLoc::ParseSingleResource(HMODULE module, CustLoc& loc, WORD resourceId) {
    const wchar_t* const kFunction = L"CustLoc::ParseSingleResource";
    LogMessage(KvQmtLogging::LogDebug, L"%s: ", kFunction);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"PROPERTIES");
    if (!found) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Didn't find properties: %lu", kFunction, GetLastError());
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Properties found", kFunction);
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to load resource: %lu", kFunction, GetLastError());
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Resource loaded", kFunction);
    const void* data = LockResource(loaded);
    if (!data) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to lock resorce: %lu", kFunction, GetLastError());
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Resource locked", kFunction);
    const size_t length = SizeofResource(module, found) / 2;  // an odd last byte is no character
    LogMessage(KvQmtLogging::LogDebug, L"%s: Resource size in chars %d", kFunction, static_cast<int>(length));
    LogMessage(KvQmtLogging::LogDebug, L"%s: Reading strings", kFunction);
    loc.ParseText(static_cast<const wchar_t*>(data), length);
    return true;
}

void CustLoc::ParseText(const wchar_t* text, size_t length) {
    enum class State { Idle, Comment, Name, Value };
    State state = State::Idle;
    size_t start = 0;
    std::wstring name;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        switch (state) {
            case State::Idle:
                if (StartsName(c)) {
                    start = i;
                    state = State::Name;
                } else if (c == L'#') {
                    state = State::Comment;
                }
                break;
            case State::Comment:
                if (c == L'\r' || c == L'\n') state = State::Idle;
                break;
            case State::Name:
                if (!IsNameCharacter(c)) {
                    state = State::Idle;
                } else if (c == L'=') {
                    name.assign(text + start, i - start);
                    start = i + 1;
                    state = State::Value;
                }
                break;
            case State::Value:
                if (c == L'\r') {
                    Store(name, std::wstring(text + start, i - start));
                    state = State::Idle;
                }
                break;
        }
    }
    // An entry still open at the end had no CR: it is dropped.
}

void CustLoc::Store(const std::wstring& name, const std::wstring& value) {
    const size_t colon = name.find(L':');
    const std::wstring tag = colon == std::wstring::npos ? L"global" : name.substr(0, colon);
    const std::wstring key = colon == std::wstring::npos ? name : name.substr(colon + 1);
    table_[tag][LowerCased(key)] = value;
}

void CustLoc::SetLanguage(const std::wstring& tag) {
    const wchar_t* const kFunction = L"CustLoc::SetLanguage";
    LogMessage(KvQmtLogging::LogInfo, L"%s: Language set to '%s'", kFunction, tag.c_str());
    language_ = tag;
}

std::wstring CustLoc::GetString(const std::wstring& key) const {
    std::wstring text;
    const auto language = table_.find(language_);
    if (language != table_.end()) {
        const auto entry = language->second.find(LowerCased(key));
        if (entry != language->second.end()) text = entry->second;
    }
    return text.empty() ? L"#" + key : text;
}

#pragma once
// The process-wide string table: every text the user sees, in every
// language, read from the "PROPERTIES" resource of the program.
#include <windows.h>

#include <map>
#include <string>

class CustLoc {
public:
    using Texts = std::map<std::wstring, std::wstring>;          // lower-cased key -> text
    using Table = std::map<std::wstring, Texts>;                 // language tag -> texts

    // The one object, made at the first call and deleted at process exit.
    static CustLoc* Instance();

    CustLoc() = default;
    virtual ~CustLoc() = default;
    CustLoc(const CustLoc&) = delete;
    CustLoc& operator=(const CustLoc&) = delete;

    // Empties the table and reads it from the resource; false when the
    // resource could not be found or read (every text then shows as "#" and its key).
    virtual bool ParseResources(HMODULE module, WORD resourceId);
    static bool ParseSingleResource(HMODULE module, CustLoc& loc, WORD resourceId);

    // Adds the entries of one table text of the given number of characters.
    void ParseText(const wchar_t* text, size_t length);

    void SetLanguage(const std::wstring& tag);
    const std::wstring& Language() const { return language_; }

    // The text of key in the current language, or "#" followed by the key.
    std::wstring GetString(const std::wstring& key) const;

    const Table& Entries() const { return table_; }

private:
    void Store(const std::wstring& name, const std::wstring& value);

    Table table_;
    std::wstring language_ = L"en";
};

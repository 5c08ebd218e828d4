#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>
#include <string>

#include "localization/CustLoc.h"

namespace {

struct ParseCase {
    const char* name;
    std::wstring text;
    const wchar_t* language;
    const wchar_t* key;
    std::wstring expected;
};

std::unique_ptr<CustLoc> Parsed(const std::wstring& text) {
    auto loc = std::make_unique<CustLoc>();
    loc->ParseText(text.data(), text.size());
    return loc;
}

}  // namespace

TEST(CustLocParse, StateTableCases) {
    const ParseCase cases[] = {
        {"empty table shows the key", L"", L"en", L"Close", L"#Close"},
        {"later key of other case replaces", L"en:Close=&Close\r\nen:CLOSE=X\r\n", L"en", L"close", L"X"},
        {"lookup folds the key", L"en:Close=&Close\r\nen:CLOSE=X\r\n", L"en", L"CLOSE", L"X"},
        {"language matches exactly", L"es-MX:Close=Cerrar\r\n", L"ES-MX", L"Close", L"#Close"},
        {"language with region", L"es-MX:Close=Cerrar\r\n", L"es-MX", L"Close", L"Cerrar"},
        {"no fallback to the language without region", L"es:Close=Cerrar\r\n", L"es-MX", L"Close", L"#Close"},
        {"last entry needs its CR", L"en:Close=A\r\nen:Upgrade=B", L"en", L"Upgrade", L"#Upgrade"},
        {"entries before the unfinished one stay", L"en:Close=A\r\nen:Upgrade=B", L"en", L"Close", L"A"},
        {"blanks before a name are skipped", L" en:Close=A\r\n", L"en", L"Close", L"A"},
        {"blank before = belongs to the key", L"en:Close =A\r\n", L"en", L"Close", L"#Close"},
        {"blank before = found with the blank", L"en:Close =A\r\n", L"en", L"close ", L"A"},
        {"blank after = belongs to the value", L"en:Close= A \r\n", L"en", L"Close", L" A "},
        {"comment line skipped", L"#en:Close=A\r\nen:Upgrade=B\r\n", L"en", L"Close", L"#Close"},
        {"line after a comment is read", L"#en:Close=A\r\nen:Upgrade=B\r\n", L"en", L"Upgrade", L"B"},
        {"digits skipped up to the next letter", L"12en:Close=A\r\n", L"en", L"Close", L"A"},
        {"no language means global", L"Close=Shut\r\n", L"global", L"Close", L"Shut"},
        {"global is not found from en", L"Close=Shut\r\n", L"en", L"Close", L"#Close"},
        {"value keeps =, : and #", L"en:Upgrade=a=b:c#d\r\n", L"en", L"Upgrade", L"a=b:c#d"},
        {"stored empty value shows the key", L"en:Close=\r\n", L"en", L"Close", L"#Close"},
        {"LF alone does not end a value", L"en:Close=A\nen:Upgrade=B\r\n", L"en", L"Close", L"A\nen:Upgrade=B"},
        {"LF in a name drops it", L"en:Clo\nse=A\r\n", L"en", L"Close", L"#Close"},
        {"a name after the LF starts anew", L"en:Clo\nse=A\r\n", L"global", L"se", L"A"},
        {"control in a name drops it", std::wstring(L"en:Cl\x01ose=A\r\n"), L"en", L"Close", L"#Close"},
        {"tab is part of a name", L"en:\tClose=A\r\n", L"en", L"\tclose", L"A"},
        {"byte-order mark skipped", L"\xFEFF" L"en:Close=A\r\n", L"en", L"Close", L"A"},
        {"non-ASCII start is skipped", L"\x00E9n:Close=A\r\n", L"n", L"Close", L"A"},
        {"name starting with underscore", L"_x:Close=A\r\n", L"_x", L"Close", L"A"},
        {"C1 control in a name drops it", std::wstring(L"en:Cl\x85ose=A\r\n"), L"en", L"Close", L"#Close"},
        {"Latin-1 letter in a key", L"en:Gr\x00FC\x00DF=A\r\n", L"en", L"GR\x00FC\x00DF", L"A"},
        {"a zero inside the text is no end", std::wstring(L"en:Close=A\0B\r\n", 14), L"en", L"Close",
         std::wstring(L"A\0B", 3)},
    };
    for (const ParseCase& c : cases) {
        auto loc = Parsed(c.text);
        loc->SetLanguage(c.language);
        EXPECT_EQ(c.expected, loc->GetString(c.key)) << c.name;
    }
}

TEST(CustLocParse, MissingKeyShowsTheKeyAsGiven) {
    auto loc = Parsed(L"en:Close=A\r\n");
    EXPECT_EQ(L"#UpgradeFailed", loc->GetString(L"UpgradeFailed"));
    loc->SetLanguage(L"xx");
    EXPECT_EQ(L"#Close", loc->GetString(L"Close"));
}

TEST(CustLocParse, ParseStopsAtTheGivenLength) {
    // The text goes on past the length given: nothing beyond it is read.
    const std::wstring text = L"en:Close=A\r\nen:Upgrade=B\r\n";
    CustLoc loc;
    loc.ParseText(text.data(), 12);
    EXPECT_EQ(L"A", loc.GetString(L"Close"));
    EXPECT_EQ(L"#Upgrade", loc.GetString(L"Upgrade"));
}

TEST(CustLocResource, ProgramResourceHoldsEveryLanguageAndKey) {
    CustLoc loc;
    ASSERT_TRUE(loc.ParseResources(GetModuleHandleW(nullptr), 130));
    const std::set<std::wstring> expectedTags = {
        L"bg", L"cs", L"da", L"de", L"el", L"en", L"es-MX", L"es", L"et", L"fi", L"fr-CA", L"fr", L"hu", L"it", L"ja",
        L"nl", L"no", L"pl", L"pt-BR", L"pt", L"ro", L"ru", L"sl", L"sv", L"tr", L"vi", L"zh-HK", L"zh-TW", L"zh"};
    std::set<std::wstring> tags;
    for (const auto& language : loc.Entries()) tags.insert(language.first);
    EXPECT_EQ(expectedTags, tags);
    const std::set<std::wstring> keys = {L"close", L"pleasewait", L"product_sg", L"product_hg", L"uptodate",
                                         L"upgrade", L"upgradeavailable", L"upgradefailed", L"upgradingpleasewait",
                                         L"helpoptions", L"helpquiet", L"helppassive", L"helplang", L"helphelp",
                                         L"helpexitcodes", L"helpexitsuccess", L"helpexitdeclined", L"helpexitfailed",
                                         L"helpexitrunning"};
    for (const auto& language : loc.Entries()) {
        std::set<std::wstring> found;
        for (const auto& entry : language.second) {
            found.insert(entry.first);
            EXPECT_FALSE(entry.second.empty());
        }
        EXPECT_EQ(keys, found) << std::string(language.first.begin(), language.first.end());
        EXPECT_EQ(L"K-Vantor Scanguard", language.second.at(L"product_sg"));
        EXPECT_EQ(L"K-Vantor Homeguard", language.second.at(L"product_hg"));
        EXPECT_NE(std::wstring::npos, language.second.at(L"close").find(L'&'));
        const std::wstring& wait = language.second.at(L"pleasewait");
        EXPECT_EQ(L"...", wait.substr(wait.size() - 3));
    }
    loc.SetLanguage(L"en");
    EXPECT_EQ(L"&Close", loc.GetString(L"Close"));
    EXPECT_EQ(L"Your product is already up to date.", loc.GetString(L"UpToDate"));
}

TEST(CustLocResource, ResourceBytesAreTheShippedForm) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(130), L"PROPERTIES");
    ASSERT_NE(nullptr, found);
    const DWORD size = SizeofResource(self, found);
    const wchar_t* text = static_cast<const wchar_t*>(LockResource(LoadResource(self, found)));
    ASSERT_EQ(0u, size % 2);
    const std::wstring all(text, size / 2);
    EXPECT_NE(0xFEFF, all[0]) << "no byte-order mark";
    EXPECT_NE(L'\0', all.back()) << "no terminating null";
    ASSERT_EQ(L"\r\n", all.substr(all.size() - 2)) << "the last line ends in CR LF";
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find(L"\r\n", start);
        ASSERT_NE(std::wstring::npos, end);
        lines.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    const size_t keysPerLanguage = 19;
    ASSERT_EQ(29 * keysPerLanguage, lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        const size_t colon = line.find(L':');
        const size_t equals = line.find(L'=');
        EXPECT_TRUE(colon != std::wstring::npos && equals != std::wstring::npos && colon < equals &&
                    equals + 1 < line.size())
            << i;
        EXPECT_EQ(std::wstring::npos, line.find_first_of(L"\r\n\t")) << i;
        if (i > 0) {
            EXPECT_LT(lines[i - 1], line) << "sorted by code units at " << i;
        }
    }
    EXPECT_EQ(0u, lines[6 * keysPerLanguage].find(L"es-MX:")) << "es-MX sorts before es";
}

TEST(CustLocResource, MissingResourceLeavesEveryTextAsItsKey) {
    CustLoc loc;
    const std::wstring text = L"en:Close=A\r\n";
    loc.ParseText(text.data(), text.size());
    EXPECT_FALSE(loc.ParseResources(GetModuleHandleW(nullptr), 131));
    EXPECT_EQ(L"#Close", loc.GetString(L"Close")) << "the table starts empty";
}

TEST(CustLocInstance, OneObjectForTheProcess) {
    CustLoc* first = CustLoc::Instance();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, CustLoc::Instance());
    EXPECT_EQ(L"en", first->Language());
}

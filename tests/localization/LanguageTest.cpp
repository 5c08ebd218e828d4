// The display language from the product's setting or the user's locale. CTest
// runs the locale case once per locale, with LC_ALL set for the Wine process.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "localization/Language.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"

namespace {

const wchar_t kAgentKey[] = L"SOFTWARE\\K-Vantor\\Ovalis Agent";

class LanguageChoice : public ::testing::Test {
protected:
    LanguageChoice() : component_(L"LanguageTest_" + std::to_wstring(GetCurrentProcessId())) {
        KvQmtLogging::GetLogger().Configure(0, component_.c_str(), L"language");
        DeleteLanguageValue();
    }
    ~LanguageChoice() override { DeleteLanguageValue(); }

    static void DeleteLanguageValue() { testsupport::DeleteValue(kAgentKey, L"Language"); }
    static void SetLanguageValue(const wchar_t* text) { ASSERT_TRUE(testsupport::SetString(kAgentKey, L"Language", text)); }

    // How often the log so far contains the text.
    int LogLinesWith(const std::wstring& text) {
        const std::wstring content = testsupport::ReadUtf16File(testsupport::LogFilePath(component_, L"language"));
        int count = 0;
        for (size_t at = content.find(text); at != std::wstring::npos; at = content.find(text, at + 1)) ++count;
        return count;
    }

    std::wstring component_;
};

}  // namespace

TEST_F(LanguageChoice, ProductSettingIsReturnedUnchanged) {
    SetLanguageValue(L"DE");
    EXPECT_EQ(L"DE", Language::GetDisplayLanguage());
    EXPECT_EQ(0, LogLinesWith(L"User locale is")) << "the locale is not read at all";
    SetLanguageValue(L"de");
    EXPECT_EQ(L"de", Language::GetDisplayLanguage());
}

TEST_F(LanguageChoice, UserLocaleGivesTheFirstSupportedPart) {
    struct Expected {
        std::wstring language;
        int unsupported;
    };
    const std::map<std::wstring, Expected> byLocale = {
        {L"es-MX", {L"es-MX", 0}}, {L"en-US", {L"en", 1}}, {L"nb-NO", {L"no", 2}},
        {L"de-CH", {L"de", 1}},    {L"ko-KR", {L"en", 3}}, {L"zh-TW", {L"zh-TW", 0}},
    };
    std::wstring full, generic, country;
    ASSERT_TRUE(Language::GetLocale(full, generic, country));
    const auto expected = byLocale.find(full);
    ASSERT_NE(byLocale.end(), expected) << "run with LC_ALL set to one of the table's locales";
    EXPECT_EQ(expected->second.language, Language::GetDisplayLanguage());
    EXPECT_EQ(expected->second.unsupported, LogLinesWith(L"is not supported locale"));
    EXPECT_EQ(expected->second.unsupported == 3 ? 1 : 0, LogLinesWith(L"Didn't find suitable locale"))
        << "the fallback only when no part is supported";
}

// The display language from the product's setting or the user's locale. CTest
// runs the locale case once per locale, with LC_ALL set for the Wine process.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/RegistryView.h"
#include "common/UniqueHandle.h"
#include "localization/Language.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"

namespace {

const wchar_t kAgentKey[] = L"SOFTWARE\\K-Vantor\\Ovalis Agent";

class LanguageChoice : public ::testing::Test {
protected:
    LanguageChoice() : component_(L"LanguageTest_" + std::to_wstring(GetCurrentProcessId())) {
        KvQmtLogging::GetLogger().Configure(0, component_.c_str(), L"language");
        DeleteLanguageValue();
    }
    ~LanguageChoice() override { DeleteLanguageValue(); }

    static void DeleteLanguageValue() {
        kv::unique_hkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_SET_VALUE | kv::kProductRegistryView, key.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(key.get(), L"Language");
        }
    }

    static void SetLanguageValue(const wchar_t* text) {
        kv::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_SET_VALUE | kv::kProductRegistryView, nullptr,
                                                 key.put(), nullptr));
        RegSetValueExW(key.get(), L"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }

    // How many lines of the log so far contain the text.
    int LogLinesWith(const std::wstring& text) {
        wchar_t folder[MAX_PATH] = {};
        DWORD size = sizeof(folder);
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     L"Common AppData", RRF_RT_REG_SZ, nullptr, folder, &size);
        const std::wstring path = std::wstring(folder) + L"\\K-Vantor\\logs\\" + component_ + L"\\language.log";
        kv::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        std::wstring content(1 << 16, L'\0');
        DWORD read = 0;
        if (file) ReadFile(file.get(), &content[0], static_cast<DWORD>(content.size() * 2), &read, nullptr);
        content.resize(read / 2);
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

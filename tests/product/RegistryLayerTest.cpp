// The registry layer against real keys of the 32-bit view.
#include <gtest/gtest.h>

#include <string>

#include "registry/AnsiText.h"
#include "registry/Win32Registry.h"
#include "tests/support/TestRegistry.h"

using testsupport::SetRawValue;
using testsupport::View;

namespace {

const wchar_t* const kTestKeyW = L"SOFTWARE\\K-Vantor\\RegistryLayerTest";
const char* const kTestKey = "SOFTWARE\\K-Vantor\\RegistryLayerTest";

class RegistryLayer : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::DeleteTree(kTestKeyW);
        ASSERT_TRUE(testsupport::CreateKey(kTestKeyW));
    }
    void TearDown() override {
        testsupport::DeleteTree(kTestKeyW);
        testsupport::DeleteTree(kTestKeyW, View::Native64);
    }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_TRUE(SetRawValue(kTestKeyW, name, type, data, bytes));
    }

    Win32Registry registry_{HKEY_LOCAL_MACHINE};
};

TEST_F(RegistryLayer, ReadsStringAndDwordOfTheirOwnType) {
    testsupport::SetString(kTestKeyW, L"Text", L"1.57.2");
    testsupport::SetDword(kTestKeyW, L"Number", 0x12345678);
    std::wstring text;
    DWORD number = 0;
    int error = -1;
    EXPECT_TRUE(registry_.ReadString(kTestKey, "Text", text, &error));
    EXPECT_EQ(RegistryError::None, error);
    EXPECT_EQ(L"1.57.2", text);
    error = -1;
    EXPECT_TRUE(registry_.ReadDword(kTestKey, "Number", number, &error));
    EXPECT_EQ(RegistryError::None, error);
    EXPECT_EQ(0x12345678u, number);
}

TEST_F(RegistryLayer, MissingKeyAndMissingValueAreNotFoundAndLeaveOutputsAlone) {
    std::wstring text = L"untouched";
    DWORD number = 77;
    int error = -1;
    EXPECT_FALSE(registry_.ReadString("SOFTWARE\\K-Vantor\\RegistryLayerTest\\Missing", "Text", text, &error));
    EXPECT_EQ(RegistryError::NotFound, error);
    EXPECT_FALSE(registry_.ReadString(kTestKey, "Missing", text, &error));
    EXPECT_EQ(RegistryError::NotFound, error);
    EXPECT_FALSE(registry_.ReadDword(kTestKey, "Missing", number, &error));
    EXPECT_EQ(RegistryError::NotFound, error);
    EXPECT_FALSE(registry_.ReadDword("SOFTWARE\\K-Vantor\\RegistryLayerTest\\Missing", "666", number, &error));
    EXPECT_EQ(RegistryError::NotFound, error);
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(77u, number);
}

TEST_F(RegistryLayer, ValuesOfAnotherTypeAreWrongType) {
    const wchar_t expandable[] = L"%SystemRoot%";
    SetRaw(L"Expandable", REG_EXPAND_SZ, expandable, sizeof(expandable));
    const wchar_t multi[] = L"a\0b\0";
    SetRaw(L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    testsupport::SetString(kTestKeyW, L"Text", L"666");
    testsupport::SetDword(kTestKeyW, L"Number", 1);
    const DWORD bigEndian = 1;
    SetRaw(L"BigEndian", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof(bigEndian));

    std::wstring text = L"untouched";
    DWORD number = 77;
    int error = -1;
    EXPECT_FALSE(registry_.ReadString(kTestKey, "Expandable", text, &error));
    EXPECT_EQ(RegistryError::WrongType, error);
    EXPECT_FALSE(registry_.ReadString(kTestKey, "Multi", text, &error));
    EXPECT_EQ(RegistryError::WrongType, error);
    EXPECT_FALSE(registry_.ReadString(kTestKey, "Number", text, &error));
    EXPECT_EQ(RegistryError::WrongType, error);
    EXPECT_FALSE(registry_.ReadDword(kTestKey, "Text", number, &error));
    EXPECT_EQ(RegistryError::WrongType, error);
    EXPECT_FALSE(registry_.ReadDword(kTestKey, "BigEndian", number, &error));
    EXPECT_EQ(RegistryError::WrongType, error);
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(77u, number);
}

TEST_F(RegistryLayer, StringWithoutTerminatorOrWithOddByteCountIsReadToItsLastWholeUnit) {
    const wchar_t data[] = {L'1', L'.', L'7', L'1'};
    SetRaw(L"Unterminated", REG_SZ, data, sizeof(data));
    SetRaw(L"Odd", REG_SZ, data, sizeof(data) - 1);  // the last unit is cut in half
    std::wstring text;
    EXPECT_TRUE(registry_.ReadString(kTestKey, "Unterminated", text));
    EXPECT_EQ(L"1.71", text);
    EXPECT_TRUE(registry_.ReadString(kTestKey, "Odd", text));
    EXPECT_EQ(L"1.7", text);
}

TEST_F(RegistryLayer, StringWithEmbeddedZeroIsCutThere) {
    const wchar_t data[] = L"1.57\0.99";
    SetRaw(L"Embedded", REG_SZ, data, sizeof(data));
    std::wstring text;
    EXPECT_TRUE(registry_.ReadString(kTestKey, "Embedded", text));
    EXPECT_EQ(L"1.57", text);
}

TEST_F(RegistryLayer, EmptyAndLargeStringsAreReadWhole) {
    SetRaw(L"NoData", REG_SZ, nullptr, 0);
    const std::wstring large(40000, L'x');
    testsupport::SetString(kTestKeyW, L"Large", large);
    std::wstring text = L"untouched";
    EXPECT_TRUE(registry_.ReadString(kTestKey, "NoData", text));
    EXPECT_EQ(L"", text);
    EXPECT_TRUE(registry_.ReadString(kTestKey, "Large", text));
    EXPECT_EQ(large, text);
}

TEST_F(RegistryLayer, DwordLongerThanFourBytesFailsAndShorterOneIsZeroExtended) {
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetRaw(L"Long", REG_DWORD, eight, sizeof(eight));
    const unsigned char two[2] = {0x34, 0x12};
    SetRaw(L"Short", REG_DWORD, two, sizeof(two));
    DWORD number = 77;
    int error = -1;
    EXPECT_FALSE(registry_.ReadDword(kTestKey, "Long", number, &error));
    EXPECT_EQ(RegistryError::Failed, error);
    EXPECT_EQ(77u, number);
    EXPECT_TRUE(registry_.ReadDword(kTestKey, "Short", number, &error));
    EXPECT_EQ(0x1234u, number);
}

TEST_F(RegistryLayer, ReadsTheProgramsViewNotTheNativeOne) {
    testsupport::SetString(kTestKeyW, L"OnlyIn64", L"native", View::Native64);
    std::wstring text;
    int error = -1;
    EXPECT_FALSE(registry_.ReadString(kTestKey, "OnlyIn64", text, &error));
    EXPECT_EQ(RegistryError::NotFound, error);
}

TEST_F(RegistryLayer, WriteStoresTextWithItsTerminatingZero) {
    int error = -1;
    EXPECT_TRUE(registry_.WriteString(kTestKey, "Segmentation", "666", &error));
    EXPECT_EQ(RegistryError::None, error);

    kv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKeyW, 0, KEY_READ | kv::kProductRegistryView, key.put()));
    char data[16] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExA(key.get(), "Segmentation", nullptr, &type,
                                                reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(4u, size);
    EXPECT_STREQ("666", data);
}

TEST_F(RegistryLayer, WriteUnderMissingKeyIsNotFoundAndCreatesNothing) {
    int error = -1;
    EXPECT_FALSE(registry_.WriteString("SOFTWARE\\K-Vantor\\RegistryLayerTest\\Missing", "Value", "1", &error));
    EXPECT_EQ(RegistryError::NotFound, error);
    kv::unique_hkey key;
    EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\K-Vantor\\RegistryLayerTest\\Missing", 0,
                                             KEY_READ | kv::kProductRegistryView, key.put()));
    key.release();
}

TEST_F(RegistryLayer, RefusedWriteToExistingKeyIsFailed) {
    // The system refuses a value name longer than 16383 characters.
    const std::string tooLongName(20000, 'n');
    int error = -1;
    EXPECT_FALSE(registry_.WriteString(kTestKey, tooLongName, "1", &error));
    EXPECT_EQ(RegistryError::Failed, error);
}

TEST_F(RegistryLayer, ErrorOutParameterIsOptional) {
    std::wstring text;
    DWORD number = 0;
    EXPECT_FALSE(registry_.ReadString(kTestKey, "Missing", text, nullptr));
    EXPECT_FALSE(registry_.ReadDword(kTestKey, "Missing", number, nullptr));
    EXPECT_FALSE(registry_.WriteString("SOFTWARE\\K-Vantor\\RegistryLayerTest\\Missing", "V", "1", nullptr));
}

TEST_F(RegistryLayer, SetRootMovesEveryPathUnderTheNewRoot) {
    testsupport::SetString(kTestKeyW, L"Text", L"below the new root");
    kv::unique_hkey software;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\K-Vantor", 0, KEY_READ | kv::kProductRegistryView, software.put()));
    registry_.SetRoot(software.get());
    std::wstring text;
    EXPECT_TRUE(registry_.ReadString("RegistryLayerTest", "Text", text));
    EXPECT_EQ(L"below the new root", text);
}

TEST(RegistryErrorMapping, OpenAndQueryFailuresMapToTheLayersErrors) {
    EXPECT_EQ(RegistryError::NotFound, Win32Registry::MapOpenError(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegistryError::NotFound, Win32Registry::MapOpenError(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(RegistryError::AccessDenied, Win32Registry::MapOpenError(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegistryError::Failed, Win32Registry::MapOpenError(ERROR_MORE_DATA));
    EXPECT_EQ(RegistryError::Failed, Win32Registry::MapOpenError(ERROR_INVALID_HANDLE));
}

TEST(AnsiText, ConvertsBothWaysAndStopsAtAnEmbeddedZero) {
    EXPECT_EQ(L"", AnsiToWide(""));
    EXPECT_EQ(L"SOFTWARE\\K-Vantor\\QMT", AnsiToWide("SOFTWARE\\K-Vantor\\QMT"));
    EXPECT_EQ(L"ab", AnsiToWide(std::string("ab\0cd", 5)));
    EXPECT_EQ("", WideToAnsi(L""));
    EXPECT_EQ("Ovalis Agent", WideToAnsi(L"Ovalis Agent"));
    EXPECT_EQ("ab", WideToAnsi(std::wstring(L"ab\0cd", 5)));
}

}  // namespace

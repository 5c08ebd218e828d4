// The signer check on real files, signed when the tests run with a test CA
// that the prefix trusts.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "stub/StubInstaller.h"
#include "tests/support/StubFixtures.h"

namespace {

struct SignatureCase {
    const char* name;
    const wchar_t* file;
    bool accepted;
    const wchar_t* errorText;  // exactly, or null: any non-empty text
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.name; }

class SignerCheck : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(SignerCheck, AcceptsOnlyAValidSignatureByTheMaker) {
    const SignatureCase& c = GetParam();
    const std::wstring path = FixturePath(c.file);
    ASSERT_NE(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "fixture missing";
    wchar_t errorText[kSignatureErrorChars];
    wmemset(errorText, L'#', kSignatureErrorChars);
    EXPECT_EQ(VerifyStubSignature(path.c_str(), errorText), c.accepted);
    ASSERT_NE(wmemchr(errorText, L'\0', kSignatureErrorChars), nullptr) << "error text not terminated";
    if (c.accepted) {
        EXPECT_STREQ(errorText, L"");
    } else if (c.errorText) {
        EXPECT_STREQ(errorText, c.errorText);
    } else {
        EXPECT_NE(errorText[0], L'\0');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SignerCheck,
    ::testing::Values(SignatureCase{"SignedByTheMaker", L"kvantor-signed.exe", true, nullptr},
                      SignatureCase{"AnotherPublisher", L"other-signed.exe", false, L"K-Vantor not found"},
                      SignatureCase{"NameInOtherCase", L"case-signed.exe", false, L"K-Vantor not found"},
                      SignatureCase{"NameWithMoreAfterIt", L"longer-signed.exe", false, L"K-Vantor not found"},
                      SignatureCase{"MakerAsOrganisationOnly", L"org-only-signed.exe", false, L"K-Vantor not found"},
                      SignatureCase{"MakerWithoutCodeSigningUsage", L"no-usage-signed.exe", false,
                                    L"K-Vantor not found"},
                      SignatureCase{"Unsigned", L"unsigned.exe", false, L"file is NOT signed (-2146762496)"},
                      SignatureCase{"ChangedAfterSigning", L"tampered-signed.exe", false, nullptr}),
    [](const ::testing::TestParamInfo<SignatureCase>& info) { return std::string(info.param.name); });

TEST(SignerCheckInput, MissingFileIsRefusedWithAReason) {
    const std::wstring path = FixturePath(L"no-such-file.exe");
    wchar_t errorText[kSignatureErrorChars] = {};
    EXPECT_FALSE(VerifyStubSignature(path.c_str(), errorText));
    EXPECT_NE(errorText[0], L'\0');
}

// A chain that ends at a root nobody trusts is not a valid signature, and
// the signer's name alone must not make it one.
TEST(SignerCheckTrust, MakersNameUnderAnUntrustedRootIsRefused) {
    const std::wstring path = FixturePath(L"untrusted-signed.exe");
    wchar_t errorText[kSignatureErrorChars] = {};
    EXPECT_FALSE(VerifyStubSignature(path.c_str(), errorText));
    // CERT_E_UNTRUSTEDROOT
    EXPECT_STREQ(errorText, L"file is NOT signed (-2146762487)");
}

}  // namespace

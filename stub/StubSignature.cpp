// The installer's signer check is the tool's one check of the maker's
// signature.
#include "common/SignerCheck.h"
#include "stub/StubInstaller.h"

bool VerifyStubSignature(const wchar_t* path, wchar_t* errorText) {
    return kv::VerifyMakerSignature(path, nullptr, errorText);
}

bool VerifyStubSignature(const wchar_t* path, HANDLE file, wchar_t* errorText) {
    return kv::VerifyMakerSignature(path, file, errorText);
}

#include "common/SignerCheck.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

namespace kv {

const wchar_t kMakerSigner[] = L"K-Vantor Corporation";

namespace {

using ProvDataFromStateData = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);

void SetErrorText(wchar_t* errorText, const wchar_t* format, ...) {
    if (errorText == nullptr) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(errorText, kSignerErrorChars - 1, format, args);
    va_end(args);
    errorText[kSignerErrorChars - 1] = L'\0';
}

// The trust state of one verification, released with the closing call
// whatever the outcome.
class TrustState {
public:
    TrustState(GUID action, WINTRUST_DATA& data) : action_(action), data_(data) {}
    ~TrustState() {
        if (data_.hWVTStateData == nullptr) return;
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
        data_.hWVTStateData = nullptr;
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

private:
    GUID action_;
    WINTRUST_DATA& data_;
};

// The certificate's own extended key usage names code signing. A
// certificate without the extension counts as good for every use elsewhere;
// here it is not enough.
bool IsForCodeSigning(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) ||
        size < sizeof(CERT_ENHKEY_USAGE)) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (usage->rgpszUsageIdentifier[i] != nullptr &&
            strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) {
            return true;
        }
    }
    return false;
}

bool AnySignerIs(CRYPT_PROVIDER_DATA* provider, const wchar_t* expected) {
    if (provider == nullptr || provider->pasSigners == nullptr) return false;
    for (DWORD i = 0; i < provider->csSigners; ++i) {
        const CRYPT_PROVIDER_SGNR& signer = provider->pasSigners[i];
        if (signer.csCertChain == 0 || signer.pasCertChain == nullptr) continue;
        const PCCERT_CONTEXT certificate = signer.pasCertChain[0].pCert;
        if (certificate == nullptr) continue;
        if (!IsForCodeSigning(certificate)) continue;
        // The common name itself: the display name would fall back to the
        // organisation or another field when the certificate has no common
        // name, and anyone can put the maker's name there.
        wchar_t subject[256] = {};
        if (::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), subject,
                                 256) <= 1) {
            subject[0] = L'\0';
        }
        subject[255] = L'\0';
        // Case matters: a look-alike publisher is not the maker.
        if (wcscmp(subject, expected) == 0) return true;
    }
    return false;
}

}  // namespace

bool VerifyMakerSignature(const wchar_t* path, HANDLE file, wchar_t* errorText) {
    if (errorText != nullptr) errorText[0] = L'\0';

    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    // Read through the caller's handle, when given: the bytes checked are
    // those of the file it holds, whatever the path names by then.
    fileInfo.hFile = file == INVALID_HANDLE_VALUE ? nullptr : file;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUIContext = 0;

    GUID action = WINTRUST_ACTION_GENERIC_CHAIN_VERIFY;
    TrustState state(action, data);
    const HRESULT trust = ::WinVerifyTrustEx(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (trust == TRUST_E_PROVIDER_UNKNOWN) {
        SetErrorText(errorText, L"signer certificate could not be found (%d)", static_cast<int>(trust));
        return false;
    }
    if (trust != 0) {
        SetErrorText(errorText, L"file is NOT signed (%d)", static_cast<int>(trust));
        return false;
    }
    // Looked up once the check has run: wintrust.dll is loaded on its first
    // call, so only from then on is it certain to be there.
    HMODULE wintrust = ::GetModuleHandleW(L"wintrust.dll");
    const ProvDataFromStateData provDataFromStateData =
        wintrust ? reinterpret_cast<ProvDataFromStateData>(
                       reinterpret_cast<void*>(::GetProcAddress(wintrust, "WTHelperProvDataFromStateData")))
                 : nullptr;
    CRYPT_PROVIDER_DATA* const provider =
        provDataFromStateData ? provDataFromStateData(data.hWVTStateData) : nullptr;
    if (!AnySignerIs(provider, kMakerSigner)) {
        SetErrorText(errorText, L"%s", L"K-Vantor not found");
        return false;
    }
    return true;
}

}  // namespace kv

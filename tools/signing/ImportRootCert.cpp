// Adds a certificate (DER or PEM file) to the machine's trusted root store
// (LocalMachine\Root), or with --remove takes it out again. For the Wine
// prefixes of the tests and the demo, where the test CA must be trusted for
// signatures made with it to verify.
//   kv_import_root_cert.exe [--remove] <certificate file>
// Exit code 0 on success, 1 on bad usage, 2 when the file cannot be read or
// parsed, 3 when the store cannot be opened or changed.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& bytes) {
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD size = ::GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size > 0 && size < (1u << 20);
    if (ok) {
        bytes.resize(size);
        DWORD got = 0;
        ok = ::ReadFile(file, bytes.data(), size, &got, nullptr) && got == size;
    }
    ::CloseHandle(file);
    return ok;
}

// DER as it is; PEM ("-----BEGIN CERTIFICATE-----") decoded.
bool ToDer(std::vector<BYTE>& bytes) {
    if (bytes.empty() || bytes[0] == 0x30) return !bytes.empty();
    DWORD size = 0;
    const char* text = reinterpret_cast<const char*>(bytes.data());
    const DWORD length = static_cast<DWORD>(bytes.size());
    if (!::CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
        return false;
    }
    der.resize(size);
    bytes.swap(der);
    return true;
}

// The machine's root store keeps each certificate under its SHA-1 hash. Some
// stores (Wine's) report a deletion done and keep the entry; it is removed
// from there as well.
bool RemoveStoredEntry(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    if (!::CertGetCertificateContextProperty(certificate, CERT_HASH_PROP_ID, hash, &size) || size != sizeof(hash)) {
        return false;
    }
    wchar_t key[128] = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
    wchar_t* end = key + wcslen(key);
    for (DWORD i = 0; i < size; ++i, end += 2) _snwprintf(end, 3, L"%02X", hash[i]);
    *end = L'\0';
    const LONG status = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool remove = false;
    const wchar_t* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--remove") == 0) remove = true;
        else if (path == nullptr) path = argv[i];
        else path = nullptr, i = argc;
    }
    if (path == nullptr) {
        fwprintf(stderr, L"usage: kv_import_root_cert.exe [--remove] <certificate file>\n");
        return 1;
    }
    std::vector<BYTE> der;
    if (!ReadWholeFile(path, der) || !ToDer(der)) {
        fwprintf(stderr, L"cannot read a certificate from %ls\n", path);
        return 2;
    }
    PCCERT_CONTEXT certificate =
        ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        fwprintf(stderr, L"not a certificate: %ls (error %lu)\n", path, ::GetLastError());
        return 2;
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        fwprintf(stderr, L"cannot open LocalMachine\\Root (error %lu)\n", ::GetLastError());
        ::CertFreeCertificateContext(certificate);
        return 3;
    }
    bool ok = false;
    if (remove) {
        PCCERT_CONTEXT found =
            ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
        // Deleting frees the found context; a certificate not there is already gone.
        ok = found == nullptr || ::CertDeleteCertificateFromStore(found);
        ok = RemoveStoredEntry(certificate) && ok;
    } else {
        ok = ::CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    }
    const DWORD error = ::GetLastError();
    ::CertCloseStore(store, 0);
    ::CertFreeCertificateContext(certificate);
    if (!ok) {
        fwprintf(stderr, L"cannot change LocalMachine\\Root (error %lu)\n", error);
        return 3;
    }
    return 0;
}

#pragma once
// The Authenticode check of code that the tool starts or loads from a place
// it does not control (the downloaded installer, an IPC library beside the
// program): a valid signature whose primary signer's certificate names the
// maker exactly.
#include <windows.h>

#include <cstddef>

namespace kv {

constexpr size_t kSignerErrorChars = 256;

// The one publisher whose code passes.
extern const wchar_t kMakerSigner[];

// True when the file's signature is valid and a primary signer's certificate
// names exactly kMakerSigner. Otherwise false with the reason in errorText
// (kSignerErrorChars units; may be null). The file is read through file
// (read access) when it is not null, so that the bytes checked are those of
// the file the caller holds.
bool VerifyMakerSignature(const wchar_t* path, HANDLE file, wchar_t* errorText);

}  // namespace kv

#pragma once
// The signed copies of the stand-in installer that the stub tests' setup
// made (tests/stub/make-signed-fixtures.sh), by their Windows path in the
// prefix and by the Unix path the test server opens.
#include <string>

#include "tests/support/TestFiles.h"

#ifndef KV_STUB_FIXTURE_DIR
#error "KV_STUB_FIXTURE_DIR names the folder of the signed fixtures"
#endif

inline std::wstring FixturePath(const wchar_t* name) {
    return testsupport::WindowsPath(KV_STUB_FIXTURE_DIR) + L"\\" + name;
}

// The same file as the test server opens it.
inline std::string FixtureUnixPath(const char* name) { return std::string(KV_STUB_FIXTURE_DIR) + "/" + name; }

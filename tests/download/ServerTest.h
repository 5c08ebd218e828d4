#pragma once
// The fixture of the tests that download from the local test server: each has
// a folder of its own and is skipped when started without the server.
#include <gtest/gtest.h>

#include <string>

#include "tests/download/DownloadHarness.h"
#include "tests/support/TestServer.h"

namespace DownloadTesting {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
    }

    // A destination holding the first `have` bytes of the server's body and a
    // metafile announcing `expected`.
    std::wstring PartialCopy(unsigned seed, size_t have, DWORD expected) {
        const std::wstring path = folder_.file(L"partial.bin");
        WriteBytes(path, TestServer::Body(seed, have));
        WriteMetafile(path, expected);
        return path;
    }

    TempFolder folder_;
};

}  // namespace DownloadTesting

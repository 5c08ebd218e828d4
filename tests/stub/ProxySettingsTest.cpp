// The binary connection settings from hostile bytes; the ways a download tries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stub/ConnectionSettings.h"
#include "stub/ProxyChain.h"
#include "stub/WinHttpProxy.h"

using QmtDownload::ProxyRoute;
using QmtDownload::RouteList;
using QmtDownload::RouteOrigin;
using Bytes = std::vector<BYTE>;

namespace {

void PutDword(Bytes& bytes, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>(value >> shift));
}
// As the system writes it: version, change counter, flags, three counted
// texts (the last one's count may lie), then fields not read here.
Bytes Value(DWORD version, DWORD flags, const std::string& proxy, const std::string& script, DWORD scriptCount = 0) {
    Bytes bytes;
    for (DWORD field : {version, DWORD{7}, flags, static_cast<DWORD>(proxy.size())}) PutDword(bytes, field);
    bytes.insert(bytes.end(), proxy.begin(), proxy.end());
    PutDword(bytes, 22);
    const std::string bypass = "<local>;*.corp.example";
    bytes.insert(bytes.end(), bypass.begin(), bypass.end());
    PutDword(bytes, scriptCount != 0 ? scriptCount : static_cast<DWORD>(script.size()));
    bytes.insert(bytes.end(), script.begin(), script.end());
    bytes.insert(bytes.end(), 32, 0);
    return bytes;
}

TEST(ConnectionSettingsParse, RealShapedValuesAreReadAndHostileOnesRefused) {
    const Bytes script = Value(0x46, 0x0D, "", "http://wpad.corp.example/proxy.pac");
    Bytes hugeFirst = Value(0x46, 0x03, "p:1", "");
    hugeFirst[15] = 0x7F;
    const struct {
        const char* name;
        Bytes bytes;
        DWORD flags;  // 0: refused
        const wchar_t* proxy;
        const wchar_t* script;
    } table[] = {
        {"script and detection", script, 0x0D, L"", L"http://wpad.corp.example/proxy.pac"},
        {"named per protocol", Value(0x46, 0x03, "http=a:1;https=b:2", ""), 0x03, L"http=a:1;https=b:2", L""},
        {"text ends at its zero", Value(0x3C, 0x03, std::string("p:8080\0junk", 11), ""), 0x03, L"p:8080", L""},
        {"zero version", Value(0, 0x03, "p:1", ""), 0, L"", L""},
        {"cut inside a text", Bytes(script.begin(), script.begin() + 20), 0, L"", L""},
        {"length past the end", Value(0x46, 0x05, "", "http://x/p.pac", 200), 0, L"", L""},
        {"huge last length", Value(0x46, 0x03, "", "", 0xFFFFFFF0), 0, L"", L""},
        {"huge first length", hugeFirst, 0, L"", L""},
        {"empty", {}, 0, L"", L""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        ConnectionSettings settings;
        settings.proxy = L"untouched";
        ASSERT_EQ(ParseConnectionSettings(row.bytes.data(), row.bytes.size(), settings), row.flags != 0);
        if (row.flags == 0) {
            EXPECT_EQ(settings.proxy, L"untouched");
            continue;
        }
        EXPECT_EQ(settings.flags, row.flags);
        EXPECT_EQ(settings.proxy, row.proxy);
        EXPECT_EQ(settings.bypass, L"<local>;*.corp.example");
        EXPECT_EQ(settings.scriptUrl, row.script);
    }
}

std::vector<std::wstring> Names(const RouteList& routes) {
    std::vector<std::wstring> names;
    for (const ProxyRoute& route : routes) names.push_back(QmtDownload::RouteName(route));
    return names;
}

TEST(ProxyChainOrder, ResolverAnswersKeepTheirOrderWithoutOtherKinds) {
    EXPECT_EQ(Names(WinHttpProxy::RoutesFromAnswer(L"PROXY a:1; SOCKS s:9;;http://b:2; DIRECT", RouteOrigin::Policy)),
              (std::vector<std::wstring>{L"the policy's proxy 'a:1'", L"the policy's proxy 'b:2'",
                                         L"direct (by the policy's setting)"}));
    EXPECT_EQ(WinHttpProxy::RoutesFromAnswer(L"a;b;c;d;e;f;g;h;i;j", RouteOrigin::Policy).size(), 8u) << "at most 8";
}

TEST(ProxyChainOrder, WaysComeInOrderOnceInARow) {
    const ProxyChain::NamedProxy user{L"user:3128", L""};
    const RouteList script = {{RouteOrigin::UserAutomatic, L"pac:8080"}, {RouteOrigin::UserAutomatic, L""}};
    const RouteList policyScript = {{RouteOrigin::Policy, L"corp:80"}};
    const std::wstring pre = L"WinINet's preconfigured connection";
    const std::wstring byPolicy = L"direct (by the policy's setting)";
    const struct {
        const char* name;
        ProxyChain::Sources sources;
        std::vector<std::wstring> names;
    } table[] = {
        {"nothing configured", {}, {pre, L"direct"}},
        {"user script, named proxy and machine proxy", {false, false, {}, {}, script, user, {L"machine:80", L""}},
         {L"the user's automatic configuration proxy 'pac:8080'",
          L"direct (by the user's automatic configuration setting)", L"the user's proxy 'user:3128'",
          L"the machine's WinHTTP proxy 'machine:80'", pre, L"direct"}},
        {"policy script replaces the user's", {false, true, policyScript, {}, script, user, {}},
         {L"the policy's proxy 'corp:80'", L"the user's proxy 'user:3128'", pre, L"direct"}},
        {"policy script without answer still replaces it", {false, true, {}, {}, script, {}, {}}, {pre, L"direct"}},
        {"policy server bypassed for the host", {false, true, {}, {L"corp:80", L"<local>; *.k-vantor.com"}, {}, user, {}},
         {byPolicy, L"the user's proxy 'user:3128'", pre, L"direct"}},
        {"policy direct allows nothing else", {true, false, {}, {}, script, user, {}}, {byPolicy}},
        {"same proxy twice in a row", {false, false, {}, {}, {{RouteOrigin::UserAutomatic, L"user:3128"}}, user,
                                       {L"USER:3128", L""}},
         {L"the user's automatic configuration proxy 'user:3128'", pre, L"direct"}},
        {"bypass list of other hosts", {false, false, {}, {}, {}, {L"http=h:1;https=s:2", L"<local>;10.*"}, {}},
         {L"the user's proxy 'http=h:1 https=s:2'", pre, L"direct"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Names(ProxyChain::Build(row.sources, L"download.k-vantor.com")), row.names);
    }
}

}  // namespace

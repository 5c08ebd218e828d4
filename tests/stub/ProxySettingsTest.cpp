// The user's binary connection settings read from hostile bytes, a resolver's
// answer read as ways, and the order of the ways a download tries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stub/ConnectionSettings.h"
#include "stub/ProxyChain.h"
#include "stub/WinHttpProxy.h"

using QmtDownload::ProxyRoute;
using QmtDownload::RouteList;
using QmtDownload::RouteOrigin;

namespace {

void PutDword(std::vector<BYTE>& bytes, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>(value >> shift));
}
void PutText(std::vector<BYTE>& bytes, const std::string& text, DWORD claimed) {
    PutDword(bytes, claimed);
    bytes.insert(bytes.end(), text.begin(), text.end());
}
// Laid out as the system writes it: version, change counter, flags, three
// counted texts, then fields this reader does not need.
std::vector<BYTE> Value(DWORD version, DWORD flags, const std::string& proxy, const std::string& bypass,
                        const std::string& script, DWORD scriptClaimed = 0xFFFFFFFF) {
    std::vector<BYTE> bytes;
    PutDword(bytes, version);
    PutDword(bytes, 7);
    PutDword(bytes, flags);
    PutText(bytes, proxy, static_cast<DWORD>(proxy.size()));
    PutText(bytes, bypass, static_cast<DWORD>(bypass.size()));
    PutText(bytes, script, scriptClaimed != 0xFFFFFFFF ? scriptClaimed : static_cast<DWORD>(script.size()));
    bytes.insert(bytes.end(), 32, 0);
    return bytes;
}

TEST(ConnectionSettingsParse, RealShapedValuesAreReadAndHostileOnesRefused) {
    const std::vector<BYTE> real = Value(0x46, 0x0D, "", "", "http://wpad.corp.example/proxy.pac");
    const std::vector<BYTE> named = Value(0x46, 0x03, "http=a:1;https=b:2", "<local>;*.corp.example", "");
    std::vector<BYTE> nulInside = Value(0x3C, 0x03, std::string("p:8080\0junk", 11), "", "");
    std::vector<BYTE> cutShort(real.begin(), real.begin() + 20);
    std::vector<BYTE> headerOnly(real.begin(), real.begin() + 12);
    std::vector<BYTE> pastEnd = Value(0x46, 0x05, "", "", "http://x/p.pac", 200);
    std::vector<BYTE> huge = Value(0x46, 0x03, "", "", "", 0xFFFFFFF0);
    std::vector<BYTE> hugeFirst;
    PutDword(hugeFirst, 0x46);
    PutDword(hugeFirst, 1);
    PutDword(hugeFirst, 3);
    PutDword(hugeFirst, 0x7FFFFFFF);
    hugeFirst.insert(hugeFirst.end(), 16, 'a');
    const struct {
        const char* name;
        std::vector<BYTE> bytes;
        bool parsed;
        DWORD flags;
        const wchar_t* proxy;
        const wchar_t* bypass;
        const wchar_t* script;
    } table[] = {
        {"script and detection", real, true, 0x0D, L"", L"", L"http://wpad.corp.example/proxy.pac"},
        {"named per protocol", named, true, 0x03, L"http=a:1;https=b:2", L"<local>;*.corp.example", L""},
        {"text ends at its zero", nulInside, true, 0x03, L"p:8080", L"", L""},
        {"zero version", Value(0, 0x03, "p:1", "", ""), false, 0, L"", L"", L""},
        {"cut inside a text", cutShort, false, 0, L"", L"", L""},
        {"no texts at all", headerOnly, false, 0, L"", L"", L""},
        {"length past the end", pastEnd, false, 0, L"", L"", L""},
        {"huge last length", huge, false, 0, L"", L"", L""},
        {"huge first length", hugeFirst, false, 0, L"", L"", L""},
        {"empty", {}, false, 0, L"", L"", L""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        ConnectionSettings settings;
        settings.proxy = L"untouched";
        ASSERT_EQ(ParseConnectionSettings(row.bytes.data(), row.bytes.size(), settings), row.parsed);
        if (!row.parsed) {
            EXPECT_EQ(settings.proxy, L"untouched");
            continue;
        }
        EXPECT_EQ(settings.flags, row.flags);
        EXPECT_EQ(settings.proxy, row.proxy);
        EXPECT_EQ(settings.bypass, row.bypass);
        EXPECT_EQ(settings.scriptUrl, row.script);
    }
}

std::vector<std::wstring> Names(const RouteList& routes) {
    std::vector<std::wstring> names;
    for (const ProxyRoute& route : routes) names.push_back(QmtDownload::RouteName(route));
    return names;
}

TEST(ResolverAnswer, ProxiesAndDirectKeepTheirOrder) {
    EXPECT_EQ(Names(WinHttpProxy::RoutesFromAnswer(L"PROXY a:1; PROXY b:2; DIRECT", RouteOrigin::UserAutomatic)),
              (std::vector<std::wstring>{L"the user's automatic configuration proxy 'a:1'",
                                         L"the user's automatic configuration proxy 'b:2'",
                                         L"direct (by the user's automatic configuration setting)"}));
    EXPECT_EQ(Names(WinHttpProxy::RoutesFromAnswer(L"http://a:1;SOCKS s:9;;b:2", RouteOrigin::Policy)),
              (std::vector<std::wstring>{L"the policy's proxy 'a:1'", L"the policy's proxy 'b:2'"}));
    EXPECT_EQ(WinHttpProxy::RoutesFromAnswer(std::wstring(50, L';') + L"a:1;a:1;a:1;a:1;a:1;a:1;a:1;a:1;a:1;a:1",
                                             RouteOrigin::Policy)
                  .size(),
              8u);
}

TEST(ProxyChainOrder, WaysComeInOrderOnceInARow) {
    const std::wstring host = L"download.k-vantor.com";
    const ProxyChain::NamedProxy userProxy{L"user:3128", L""};
    const RouteList script = {ProxyRoute{RouteOrigin::UserAutomatic, L"pac:8080"},
                              ProxyRoute{RouteOrigin::UserAutomatic, L""}};
    const RouteList policyScript = {ProxyRoute{RouteOrigin::Policy, L"corp:80"}};
    const std::wstring pre = L"WinINet's preconfigured connection";
    const struct {
        const char* name;
        ProxyChain::Sources sources;
        std::vector<std::wstring> names;
    } table[] = {
        {"nothing configured", {}, {pre, L"direct"}},
        {"user script, named proxy and machine proxy",
         {false, false, {}, {}, script, userProxy, {L"machine:80", L""}},
         {L"the user's automatic configuration proxy 'pac:8080'",
          L"direct (by the user's automatic configuration setting)", L"the user's proxy 'user:3128'",
          L"the machine's WinHTTP proxy 'machine:80'", pre, L"direct"}},
        {"policy script replaces the user's",
         {false, true, policyScript, {}, script, userProxy, {}},
         {L"the policy's proxy 'corp:80'", L"the user's proxy 'user:3128'", pre, L"direct"}},
        {"policy script that gave nothing still replaces the user's",
         {false, true, {}, {}, script, {}, {}},
         {pre, L"direct"}},
        {"policy fixed server, bypassed for the host",
         {false, true, {}, {L"corp:80", L"*.k-vantor.com"}, {}, userProxy, {}},
         {L"direct (by the policy's setting)", L"the user's proxy 'user:3128'", pre, L"direct"}},
        {"policy direct allows nothing else",
         {true, false, {}, {}, script, userProxy, {}},
         {L"direct (by the policy's setting)"}},
        {"same proxy twice in a row is tried once",
         {false, false, {}, {}, {ProxyRoute{RouteOrigin::UserAutomatic, L"user:3128"}}, userProxy,
          {L"USER:3128", L""}},
         {L"the user's automatic configuration proxy 'user:3128'", pre, L"direct"}},
        {"user bypass list names the host",
         {false, false, {}, {}, {}, {L"user:3128", L"<local>; download.k-vantor.com"}, {}},
         {L"direct (by the user's setting)", pre, L"direct"}},
        {"bypass list of another host",
         {false, false, {}, {}, {}, {L"http=h:1;https=s:2", L"<local>;*.corp.example;10.*"}, {}},
         {L"the user's proxy 'http=h:1 https=s:2'", pre, L"direct"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Names(ProxyChain::Build(row.sources, host)), row.names);
    }
    EXPECT_EQ(ProxyChain::UrlHost(L"http://user@Download.k-vantor.com:8080/NX/x.exe"), L"Download.k-vantor.com");
}

}  // namespace

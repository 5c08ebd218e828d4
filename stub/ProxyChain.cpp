#include "stub/ProxyChain.h"

using QmtDownload::ProxyRoute;
using QmtDownload::RouteList;
using QmtDownload::RouteOrigin;

namespace ProxyChain {

namespace {

// A named proxy is no way at all for a host its bypass list names: there it
// stands for direct.
void AddNamed(RouteList& routes, const NamedProxy& named, RouteOrigin origin, const std::wstring& host) {
    if (named.proxy.empty()) return;
    const bool bypassed = QmtDownload::BypassListMatches(named.bypass, host);
    routes.push_back(ProxyRoute{origin, bypassed ? std::wstring() : QmtDownload::WinInetProxyList(named.proxy)});
}

}  // namespace

RouteList Build(const Sources& sources, const std::wstring& host) {
    if (sources.policyDirect) return RouteList{ProxyRoute{RouteOrigin::Policy, std::wstring()}};
    RouteList routes;
    if (sources.policySetsProxy) {
        routes = sources.policyAutomatic;
        AddNamed(routes, sources.policyNamed, RouteOrigin::Policy, host);
    } else {
        routes = sources.userAutomatic;
    }
    AddNamed(routes, sources.userNamed, RouteOrigin::UserNamed, host);
    AddNamed(routes, sources.machineWinHttp, RouteOrigin::MachineWinHttp, host);
    routes.push_back(ProxyRoute{RouteOrigin::Preconfigured, std::wstring()});
    routes.push_back(ProxyRoute{RouteOrigin::Direct, std::wstring()});
    return QmtDownload::DropConsecutiveDuplicates(routes);
}

std::wstring UrlHost(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    const size_t start = scheme == std::wstring::npos ? 0 : scheme + 3;
    size_t end = url.find_first_of(L"/?#", start);
    if (end == std::wstring::npos) end = url.size();
    std::wstring authority = url.substr(start, end - start);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority[0] == L'[') return authority.substr(0, authority.find(L']') + 1);
    return authority.substr(0, authority.find(L':'));
}

}  // namespace ProxyChain

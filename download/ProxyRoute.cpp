#include "download/ProxyRoute.h"

#include <cwctype>

namespace QmtDownload {

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                          static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// How the route reaches the server, whatever it came from.
int Kind(const ProxyRoute& route) {
    if (route.origin == RouteOrigin::Preconfigured) return 0;
    return route.IsProxy() ? 1 : 2;
}

const wchar_t* OriginText(RouteOrigin origin) {
    switch (origin) {
        case RouteOrigin::Policy: return L"the policy's";
        case RouteOrigin::UserAutomatic: return L"the user's automatic configuration";
        case RouteOrigin::UserNamed: return L"the user's";
        case RouteOrigin::MachineWinHttp: return L"the machine's WinHTTP";
        case RouteOrigin::Preconfigured:
        case RouteOrigin::Direct: break;
    }
    return L"";
}

bool IsSeparator(wchar_t c) { return c == L';' || c == L',' || std::iswspace(c); }

std::vector<std::wstring> SplitList(const std::wstring& list) {
    std::vector<std::wstring> items;
    std::wstring item;
    for (wchar_t c : list) {
        if (IsSeparator(c)) {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    if (!item.empty()) items.push_back(item);
    return items;
}

// '*' stands for any run of characters; case does not matter.
bool Matches(const wchar_t* pattern, const wchar_t* text) {
    if (*pattern == L'\0') return *text == L'\0';
    if (*pattern == L'*') return Matches(pattern + 1, text) || (*text != L'\0' && Matches(pattern, text + 1));
    return *text != L'\0' && std::towlower(*pattern) == std::towlower(*text) && Matches(pattern + 1, text + 1);
}

// A bypass entry may carry a scheme ("http://host") or a port; the host is
// what is compared.
std::wstring EntryHost(std::wstring entry) {
    const size_t scheme = entry.find(L"://");
    if (scheme != std::wstring::npos) entry.erase(0, scheme + 3);
    const size_t colon = entry.find(L':');
    if (colon != std::wstring::npos) entry.erase(colon);
    return entry;
}

}  // namespace

bool ProxyRoute::operator==(const ProxyRoute& other) const {
    return Kind(*this) == Kind(other) && SameText(proxy, other.proxy);
}

std::wstring RouteName(const ProxyRoute& route) {
    if (route.origin == RouteOrigin::Preconfigured) return L"WinINet's preconfigured connection";
    if (route.IsProxy()) return std::wstring(OriginText(route.origin)) + L" proxy '" + route.proxy + L"'";
    if (route.origin == RouteOrigin::Direct) return L"direct";
    return std::wstring(L"direct (by ") + OriginText(route.origin) + L" setting)";
}

RouteList DropConsecutiveDuplicates(const RouteList& routes) {
    RouteList kept;
    for (const ProxyRoute& route : routes) {
        if (kept.empty() || !(kept.back() == route)) kept.push_back(route);
    }
    return kept;
}

std::wstring WinInetProxyList(const std::wstring& list) {
    std::wstring joined;
    for (const std::wstring& item : SplitList(list)) {
        if (!joined.empty()) joined += L' ';
        joined += item;
    }
    return joined;
}

bool BypassListMatches(const std::wstring& list, const std::wstring& host) {
    if (host.empty()) return false;
    for (const std::wstring& item : SplitList(list)) {
        if (SameText(item, L"<local>")) {
            // A name without a dot is one of the local network's.
            if (host.find(L'.') == std::wstring::npos && host.find(L':') == std::wstring::npos) return true;
            continue;
        }
        const std::wstring pattern = EntryHost(item);
        if (!pattern.empty() && Matches(pattern.c_str(), host.c_str())) return true;
    }
    return false;
}

}  // namespace QmtDownload

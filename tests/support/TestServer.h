#pragma once
// The test side of tools/httpserver/server.py: the ports it listens on (from
// the environment its launcher sets), its control requests, its record of
// requests, and the bodies it generates.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace DownloadTesting {

struct RecordedRequest {
    std::string role;    // "origin" or "proxy"
    std::string method;  // "GET", "HEAD"
    std::string target;  // the path, or the absolute URL a proxy was asked for
    std::map<std::string, std::string> headers;  // names in lower case

    bool Has(const std::string& name) const { return headers.count(name) != 0; }
    std::string Header(const std::string& name) const;
};

// The HTTPS origins: a certificate for localhost from the test CA, one for
// another host name, and one for localhost from a CA nobody trusts.
enum class TlsOrigin { Good, WrongHost, Untrusted };

class TestServer {
public:
    // False (and the ports 0) when the program runs without its launcher.
    static bool Available();
    static unsigned OriginPort();
    static unsigned ProxyPort();
    static unsigned ClosedPort();

    // "http://127.0.0.1:<origin port><path>"
    static std::wstring Url(const char* path);
    // 0 when the server has no certificates for it.
    static unsigned TlsPort(TlsOrigin origin);
    // "https://localhost:<port><path>"
    static std::wstring SecureUrl(TlsOrigin origin, const char* path);
    static std::wstring ProxyAddress();

    static void AddResource(const std::string& json);
    static void SetProxyMode(const char* mode);
    static void ClearLog();
    static void Quit();
    // Requests of one path (origin and proxy), in order.
    static std::vector<RecordedRequest> Requests(const char* path);

    // The body the server sends for a seed.
    static std::vector<BYTE> Body(unsigned seed, size_t size);

private:
    static std::string Control(const char* method, const char* path, const std::string& body);
};

}  // namespace DownloadTesting

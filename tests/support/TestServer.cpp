#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/TestServer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace DownloadTesting {

namespace {

unsigned PortFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : 0;
}

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { ::WSACleanup(); }
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// The server's URL path of a request target, absolute (proxy) or not.
std::string PathOf(const std::string& target) {
    const size_t scheme = target.find("://");
    if (scheme == std::string::npos) return target;
    const size_t slash = target.find('/', scheme + 3);
    return slash == std::string::npos ? "/" : target.substr(slash);
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

bool TestServer::Available() { return OriginPort() != 0; }
unsigned TestServer::OriginPort() { return PortFromEnvironment("KV_TEST_HTTP_PORT"); }
unsigned TestServer::ProxyPort() { return PortFromEnvironment("KV_TEST_PROXY_PORT"); }
unsigned TestServer::ClosedPort() { return PortFromEnvironment("KV_TEST_CLOSED_PORT"); }

std::wstring TestServer::Url(const char* path) {
    wchar_t text[512];
    _snwprintf(text, ARRAYSIZE(text) - 1, L"http://127.0.0.1:%u%S", OriginPort(), path);
    text[ARRAYSIZE(text) - 1] = L'\0';
    return text;
}

unsigned TestServer::TlsPort(TlsOrigin origin) {
    switch (origin) {
        case TlsOrigin::Good:
            return PortFromEnvironment("KV_TEST_TLS_PORT");
        case TlsOrigin::WrongHost:
            return PortFromEnvironment("KV_TEST_TLS_WRONG_HOST_PORT");
        case TlsOrigin::Untrusted:
            return PortFromEnvironment("KV_TEST_TLS_UNTRUSTED_PORT");
    }
    return 0;
}

std::wstring TestServer::SecureUrl(TlsOrigin origin, const char* path) {
    wchar_t text[512];
    _snwprintf(text, ARRAYSIZE(text) - 1, L"https://localhost:%u%S", TlsPort(origin), path);
    text[ARRAYSIZE(text) - 1] = L'\0';
    return text;
}

std::wstring TestServer::ProxyAddress() {
    wchar_t text[64];
    _snwprintf(text, ARRAYSIZE(text) - 1, L"127.0.0.1:%u", ProxyPort());
    text[ARRAYSIZE(text) - 1] = L'\0';
    return text;
}

std::string TestServer::Control(const char* method, const char* path, const std::string& body) {
    static WinsockSession winsock;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(OriginPort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::closesocket(s);
        throw std::runtime_error("cannot reach the test server");
    }
    char head[256];
    std::snprintf(head, sizeof(head), "%s %s HTTP/1.0\r\nContent-Length: %u\r\n\r\n", method, path,
                  static_cast<unsigned>(body.size()));
    const std::string request = head + body;
    ::send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string response;
    char buffer[8192];
    for (;;) {
        const int n = ::recv(s, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        response.append(buffer, n);
    }
    ::closesocket(s);
    const size_t bodyStart = response.find("\r\n\r\n");
    if (response.compare(0, 7, "HTTP/1.") != 0 || response.compare(8, 4, " 200") != 0 || bodyStart == std::string::npos) {
        throw std::runtime_error("control request failed: " + response.substr(0, 200));
    }
    return response.substr(bodyStart + 4);
}

void TestServer::AddResource(const std::string& json) { Control("POST", "/_ctl/resource", json); }

void TestServer::SetProxyMode(const char* mode) {
    Control("POST", "/_ctl/proxy", std::string("{\"mode\": \"") + mode + "\"}");
}

void TestServer::ClearLog() { Control("POST", "/_ctl/clear", ""); }

void TestServer::Quit() { Control("POST", "/_ctl/quit", ""); }

std::vector<RecordedRequest> TestServer::Requests(const char* path) {
    std::vector<RecordedRequest> requests;
    for (const std::string& line : Split(Control("GET", "/_ctl/log", ""), '\n')) {
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() < 3 || PathOf(fields[2]) != path) continue;
        RecordedRequest request{fields[0], fields[1], fields[2], {}};
        for (size_t i = 3; i < fields.size(); ++i) {
            const size_t colon = fields[i].find(": ");
            if (colon != std::string::npos) request.headers[Lower(fields[i].substr(0, colon))] = fields[i].substr(colon + 2);
        }
        requests.push_back(request);
    }
    return requests;
}

std::vector<BYTE> TestServer::Body(unsigned seed, size_t size) {
    constexpr size_t kPeriod = 65521;
    std::vector<BYTE> block(kPeriod);
    unsigned x = seed * 2654435761u + 1u;
    for (size_t k = 0; k < kPeriod; ++k) {
        x = x * 1103515245u + 12345u;
        block[k] = static_cast<BYTE>((x >> 16) & 0xFF);
    }
    std::vector<BYTE> body(size);
    for (size_t i = 0; i < size; ++i) body[i] = block[i % kPeriod];
    return body;
}

}  // namespace DownloadTesting

#pragma once
// One download URL, split into what InternetConnect and HttpOpenRequest need.
#include <windows.h>
#include <wininet.h>

#include <string>

namespace QmtDownload {

class Url {
public:
    static constexpr DWORD kHostCapacity = 256;
    static constexpr DWORD kPathCapacity = 1024;

    explicit Url(const wchar_t* text);

    bool valid() const { return valid_; }
    bool isHttps() const { return isHttps_; }
    const wchar_t* host() const { return host_; }
    INTERNET_PORT port() const { return port_; }
    const wchar_t* path() const { return path_; }
    const wchar_t* text() const { return text_.c_str(); }

private:
    wchar_t host_[kHostCapacity] = {};
    wchar_t path_[kPathCapacity] = {};
    INTERNET_PORT port_ = 0;
    std::wstring text_;
    bool valid_ = false;
    bool isHttps_ = false;
};

// Whether the text names an http or https address (the scheme in any case),
// as against a file or UNC path.
bool IsHttpUrl(const std::wstring& text);

}  // namespace QmtDownload

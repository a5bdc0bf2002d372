#include "presentation/browser.h"

#include <filesystem>

namespace zenfo {

Browser::~Browser() = default;

void OpenInBrowser(Browser& browser, const std::string& path) {
    browser.Navigate(path);
}

void OpenIndexPage(Browser& browser, const std::string& photoFolder) {
    OpenInBrowser(browser, photoFolder + "index.html");
    OpenInBrowser(browser, photoFolder + "index.html");
}

std::string FileUrl(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        absolute = std::filesystem::absolute(std::filesystem::path(path)).string();
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : absolute) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0x0F];
        }
    }
    return url;
}

}  // namespace zenfo

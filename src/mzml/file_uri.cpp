#include "mzml/file_uri.hpp"

#include <system_error>

namespace tarnvale::mzml {

namespace {

bool is_unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string file_uri(const std::filesystem::path& path) {
    std::error_code ignored; // without a current directory the path is used as given
    std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    if (absolute.empty()) absolute = path;
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char byte : absolute.lexically_normal().native()) {
        const auto c = static_cast<unsigned char>(byte);
        if (is_unreserved(c) || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 0x0f];
        }
    }
    return uri;
}

} // namespace tarnvale::mzml

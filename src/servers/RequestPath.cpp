#include "servers/RequestPath.h"

#include "app/Numbers.h"

std::string RequestPath(std::string_view target) {
    const size_t scheme = target.find("://");
    if (scheme != std::string_view::npos && target.find('/') > scheme) {
        // An absolute URL: the path begins where the authority ends; none is "/".
        const size_t pathStart = target.find_first_of("/?#", scheme + 3);
        target = pathStart == std::string_view::npos || target[pathStart] != '/'
                     ? std::string_view("/")
                     : target.substr(pathStart);
    }
    if (target.empty() || target.front() != '/')
        return {};  // "*", or a name that does not begin at the root
    const size_t query = target.find('?');
    if (query != std::string_view::npos)
        target = target.substr(0, query);
    std::string out;
    out.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() && HexDigitValue(target[i + 1]) >= 0 &&
            HexDigitValue(target[i + 2]) >= 0) {
            out +=
                static_cast<char>(HexDigitValue(target[i + 1]) * 16 + HexDigitValue(target[i + 2]));
            i += 2;
        } else {
            out += target[i];
        }
    }
    return out;
}

bool PathLeavesRoot(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

bool PathHasHiddenName(std::string_view path) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end - start >= 2 && path[start] == '.')
            return true;
        start = end + 1;
    }
    return false;
}

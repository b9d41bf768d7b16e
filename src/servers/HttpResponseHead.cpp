#include "servers/HttpResponseHead.h"

#include <cstdio>
#include <ctime>

const std::string& HttpDate() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    thread_local std::time_t last = -1;
    thread_local std::string text;
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm t{};
        gmtime_r(&now, &t);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday],
                      t.tm_mday, months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
        text = buf;
        last = now;
    }
    return text;
}

std::string HttpResponseHead(const char* status, std::string_view contentType,
                             unsigned long long length, const char* extra) {
    std::string head;
    head.reserve(200);
    head += "HTTP/1.1 ";
    head += status;
    head += "\r\nDate: ";
    head += HttpDate();
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += std::to_string(length);
    head += "\r\nConnection: close\r\n";
    head += extra;
    head += "\r\n";
    return head;
}

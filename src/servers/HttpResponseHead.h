#pragma once

#include <string>
#include <string_view>

// The head of an answer of the built-in HTTP server: the status line, Date, Content-Type,
// Content-Length, "Connection: close", the extra header lines (each ending in CRLF) and the
// blank line.
std::string HttpResponseHead(const char* status, std::string_view contentType,
                             unsigned long long length, const char* extra = "");

// "Sun, 06 Nov 1994 08:49:37 GMT", formatted once per second per thread.
const std::string& HttpDate();

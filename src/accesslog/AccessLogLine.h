#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <ctime>
#include <string>

// The two standard access log formats of web servers:
//   common:   $remote_addr $ident $remote_user [$time_local] "$request" $status $bytes
//   combined: the same, then "$http_referer" "$http_user_agent"
enum class AccessLogFormat { Combined, Common };

// "combined" or "common"; false for any other name.
bool AccessLogFormatByName(const QString& name, AccessLogFormat* format);
const char* AccessLogFormatName(AccessLogFormat format);

// One line of an access log, as read. The views point into the line read or into the reader's
// own buffer (quoted fields with escapes): they hold until the reader reads the next line.
struct AccessLogLine {
    QByteArrayView peer;       // the client's address as the server wrote it: no blank
    QByteArrayView ident;      // no blank; "-" as a rule
    QByteArrayView user;       // as written (escapes kept); never holds " ["
    std::time_t time = 0;      // UTC seconds since the epoch
    int offsetMinutes = 0;     // the offset to UTC the line was written with (+0100: 60)
    QByteArrayView request;    // the request line, escapes decoded
    QByteArrayView method;     // "GET"; empty when the request is no "METHOD TARGET [PROTOCOL]"
    QByteArrayView target;     // "/cfg/x.cfg?a=1": as the client sent it, no blank
    QByteArrayView protocol;   // "HTTP/1.1"; empty for a request without one
    int status = 0;            // three digits
    qint64 bytes = -1;         // body bytes sent; -1 for "-"
    QByteArrayView referer;    // combined only, escapes decoded; "-" when none
    QByteArrayView userAgent;  // combined only, escapes decoded; "-" when none
};

// Reads lines of one format. Reuses its buffer from line to line: no allocation per line once
// it has grown to the longest line's length.
class AccessLogReader {
  public:
    explicit AccessLogReader(AccessLogFormat format) : format_(format) {}
    AccessLogFormat Format() const { return format_; }

    // Reads one line without its line end (a final "\r" is left out too). False when the line
    // is not in the format: fields missing or malformed, a time that is no real time, a quoted
    // field with a raw control character or an escape the servers do not write, text after the
    // last field.
    bool Read(QByteArrayView line, AccessLogLine* out);

  private:
    bool quoted(const char*& at, const char* end, QByteArrayView* field);

    AccessLogFormat format_;
    std::string decoded_;
};

// A line of the format that the reader reads back as the given fields: quoted fields escaped as
// nginx escapes them ("\xNN" for '"', '\\', control characters and bytes from 0x7f), time in
// the line's own offset. For tests and the fuzz target; fields must be as a read gives them.
QByteArray FormatAccessLogLine(AccessLogFormat format, const AccessLogLine& line);

// The URL path prefix under which a web server publishes the batch output ("/cfg"): given as
// "--strip PREFIX", kept with one leading "/", no trailing one and repeated ones merged ("/"
// gives "", the root). False for a prefix with a "." or ".." segment, a control character, "?"
// or "#": no request path is below such a prefix as written.
bool NormalizedUrlPrefix(const QByteArray& prefix, QByteArray* normalized);

// The prefix of the URL phones are told of a web server ("http://phones.example.org/cfg" gives
// "/cfg"): its path, percent-decoded and normalized as NormalizedUrlPrefix does; "" for a URL
// without a path (or no URL). The user information is no part of it, whatever it holds. False
// when the path is no prefix.
bool UrlPathPrefix(const QByteArray& url, QByteArray* prefix);

// The file a request target names below the prefix: the path part of the target (origin form
// or absolute form), percent-decoded, "." and ".." segments resolved and repeated slashes
// merged as a web server maps a URL to a file, then the prefix taken off; without a leading
// "/". Empty when the target names no file below the prefix (outside it, the prefix itself,
// bad percent escapes, a NUL, ".." above the root, a trailing "/").
QByteArray FileBelowPrefix(QByteArrayView target, const QByteArray& prefix);

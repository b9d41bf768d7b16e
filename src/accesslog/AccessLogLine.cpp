#include "accesslog/AccessLogLine.h"

#include "app/ServerUrl.h"

#include <cstring>
#include <vector>

namespace {

const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The value of count digits at p; -1 when one is no digit.
int digits(const char* p, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (!isDigit(p[i]))
            return -1;
        value = value * 10 + (p[i] - '0');
    }
    return value;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1 to 12).
qint64 daysFromCivil(qint64 y, int m, int d) {
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 z, int* y, int* m, int* d) {
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = int(yoe + era * 400 + (*m <= 2));
}

// "[10/Oct/2000:13:55:36 -0700]": 28 bytes.
constexpr int kTimeFieldLength = 28;

bool readTime(const char* p, std::time_t* time, int* offsetMinutes) {
    if (p[0] != '[' || p[3] != '/' || p[7] != '/' || p[12] != ':' || p[15] != ':' || p[18] != ':' ||
        p[21] != ' ' || (p[22] != '+' && p[22] != '-') || p[27] != ']')
        return false;
    int month = 0;
    while (month < 12 && std::memcmp(p + 4, kMonths[month], 3) != 0)
        ++month;
    const int day = digits(p + 1, 2), year = digits(p + 8, 4), hour = digits(p + 13, 2),
              minute = digits(p + 16, 2), second = digits(p + 19, 2), offHours = digits(p + 23, 2),
              offMinutes = digits(p + 25, 2);
    if (month == 12 || day < 1 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || offHours < 0 || offHours > 23 || offMinutes < 0 ||
        offMinutes > 59 || day > daysInMonth(year, month + 1))
        return false;
    const int offset = (p[22] == '-' ? -1 : 1) * (offHours * 60 + offMinutes);
    const qint64 local =
        daysFromCivil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
    *time = std::time_t(local - qint64(offset) * 60);
    *offsetMinutes = offset;
    return true;
}

void writeTime(QByteArray& out, std::time_t time, int offsetMinutes) {
    const qint64 local = qint64(time) + qint64(offsetMinutes) * 60;
    qint64 days = local / 86400, seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int y = 0, m = 0, d = 0;
    civilFromDays(days, &y, &m, &d);
    const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "[%02d/%s/%04d:%02d:%02d:%02d %c%02d%02d]", d, kMonths[m - 1],
                  y, int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60),
                  offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    out += text;
}

// A field of one or more bytes up to the next blank: no control character, no blank.
bool token(const char*& at, const char* end, QByteArrayView* field) {
    const char* start = at;
    while (at < end && *at != ' ') {
        if (static_cast<unsigned char>(*at) < 0x21 || *at == 0x7f)
            return false;
        ++at;
    }
    if (at == start)
        return false;
    *field = QByteArrayView(start, at - start);
    return true;
}

bool expect(const char*& at, const char* end, char c) {
    if (at == end || *at != c)
        return false;
    ++at;
    return true;
}

// Digits only, at most maxDigits of them.
bool number(const char*& at, const char* end, int maxDigits, qint64* value) {
    const char* start = at;
    qint64 v = 0;
    while (at < end && isDigit(*at) && at - start < maxDigits)
        v = v * 10 + (*at++ - '0');
    if (at == start || (at < end && isDigit(*at)))
        return false;
    *value = v;
    return true;
}

bool isTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) ||
           std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// "METHOD TARGET PROTOCOL" or "METHOD TARGET", each part non-empty and without blanks; the
// method of token characters. Leaves the parts empty for anything else ("-", bytes of a TLS
// handshake sent to a plain port).
void splitRequest(AccessLogLine* out) {
    out->method = out->target = out->protocol = QByteArrayView();
    const QByteArrayView r = out->request;
    const qsizetype first = r.indexOf(' ');
    if (first <= 0)
        return;
    for (qsizetype i = 0; i < first; ++i)
        if (!isTokenChar(r[i]))
            return;
    const QByteArrayView rest = r.sliced(first + 1);
    const qsizetype second = rest.indexOf(' ');
    const QByteArrayView target = second < 0 ? rest : rest.first(second);
    const QByteArrayView protocol = second < 0 ? QByteArrayView() : rest.sliced(second + 1);
    if (target.isEmpty() || (second >= 0 && (protocol.isEmpty() || protocol.contains(' '))))
        return;
    out->method = r.first(first);
    out->target = target;
    out->protocol = protocol;
}

void escapeQuoted(QByteArray& out, QByteArrayView field) {
    static const char hex[] = "0123456789ABCDEF";
    out += '"';
    for (const char c : field) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || c == '"' || c == '\\') {
            const char escaped[4] = {'\\', 'x', hex[u >> 4], hex[u & 15]};
            out.append(escaped, 4);
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

bool AccessLogFormatByName(const QString& name, AccessLogFormat* format) {
    if (name == QLatin1String("combined"))
        *format = AccessLogFormat::Combined;
    else if (name == QLatin1String("common"))
        *format = AccessLogFormat::Common;
    else
        return false;
    return true;
}

const char* AccessLogFormatName(AccessLogFormat format) {
    return format == AccessLogFormat::Combined ? "combined" : "common";
}

// A quoted field from at (on its opening quote) to its closing quote: escapes are decoded into
// decoded_, which was reserved for the whole line so that earlier views stay valid.
bool AccessLogReader::quoted(const char*& at, const char* end, QByteArrayView* field) {
    if (!expect(at, end, '"'))
        return false;
    const char* start = at;
    while (at < end && *at != '"' && *at != '\\') {
        if (static_cast<unsigned char>(*at) < 0x20)
            return false;
        ++at;
    }
    if (at == end)
        return false;
    if (*at == '"') {  // no escapes: a view into the line
        *field = QByteArrayView(start, at - start);
        ++at;
        return true;
    }
    const size_t from = decoded_.size();
    decoded_.append(start, size_t(at - start));
    while (at < end && *at != '"') {
        const char c = *at++;
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            decoded_ += c;
            continue;
        }
        if (at == end)
            return false;
        const char e = *at++;
        switch (e) {
            case '"':
            case '\\':
                decoded_ += e;
                break;
            case 'n':
                decoded_ += '\n';
                break;
            case 'r':
                decoded_ += '\r';
                break;
            case 't':
                decoded_ += '\t';
                break;
            case 'b':
                decoded_ += '\b';
                break;
            case 'v':
                decoded_ += '\v';
                break;
            case 'x': {
                const int high = at < end ? hexValue(at[0]) : -1;
                const int low = at + 1 < end ? hexValue(at[1]) : -1;
                if (high < 0 || low < 0)
                    return false;
                decoded_ += char(high * 16 + low);
                at += 2;
                break;
            }
            default:
                return false;
        }
    }
    if (!expect(at, end, '"'))
        return false;
    *field = QByteArrayView(decoded_.data() + from, qsizetype(decoded_.size() - from));
    return true;
}

bool AccessLogReader::Read(QByteArrayView line, AccessLogLine* out) {
    if (line.endsWith('\r'))
        line.chop(1);
    const char* at = line.data();
    const char* const end = at + line.size();
    decoded_.clear();
    decoded_.reserve(size_t(line.size()));

    if (!token(at, end, &out->peer) || !expect(at, end, ' ') || !token(at, end, &out->ident) ||
        !expect(at, end, ' '))
        return false;
    // The user runs to the time field; a user name may hold blanks.
    const char* user = at;
    while (at + 1 < end && !(at[0] == ' ' && at[1] == '[')) {
        if (static_cast<unsigned char>(*at) < 0x20 || *at == 0x7f)
            return false;
        ++at;
    }
    if (at == user || at + 1 >= end)
        return false;
    out->user = QByteArrayView(user, at - user);
    ++at;
    if (end - at < kTimeFieldLength || !readTime(at, &out->time, &out->offsetMinutes))
        return false;
    at += kTimeFieldLength;
    if (!expect(at, end, ' ') || !quoted(at, end, &out->request) || !expect(at, end, ' '))
        return false;
    out->status = end - at >= 3 ? digits(at, 3) : -1;
    at += 3;
    if (out->status < 0 || !expect(at, end, ' '))
        return false;
    if (at < end && *at == '-') {
        ++at;
        out->bytes = -1;
    } else if (!number(at, end, 18, &out->bytes)) {
        return false;
    }
    out->referer = out->userAgent = QByteArrayView();
    if (format_ == AccessLogFormat::Combined &&
        (!expect(at, end, ' ') || !quoted(at, end, &out->referer) || !expect(at, end, ' ') ||
         !quoted(at, end, &out->userAgent)))
        return false;
    if (at != end)
        return false;
    splitRequest(out);
    return true;
}

QByteArray FormatAccessLogLine(AccessLogFormat format, const AccessLogLine& line) {
    QByteArray out;
    out.reserve(200);
    out += line.peer.toByteArray() + ' ' + line.ident.toByteArray() + ' ' +
           line.user.toByteArray() + ' ';
    writeTime(out, line.time, line.offsetMinutes);
    out += ' ';
    escapeQuoted(out, line.request);
    char numbers[40];
    std::snprintf(numbers, sizeof numbers, " %03d ", line.status);
    out += numbers;
    out += line.bytes < 0 ? QByteArray("-") : QByteArray::number(line.bytes);
    if (format == AccessLogFormat::Combined) {
        out += ' ';
        escapeQuoted(out, line.referer);
        out += ' ';
        escapeQuoted(out, line.userAgent);
    }
    return out;
}

bool NormalizedUrlPrefix(const QByteArray& prefix, QByteArray* normalized) {
    QByteArray out;
    for (const QByteArray& segment : prefix.split('/')) {
        if (segment == "." || segment == "..")
            return false;
        for (const char c : segment)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '?' || c == '#')
                return false;
        if (!segment.isEmpty())
            out += '/' + segment;
    }
    *normalized = out;
    return true;
}

bool UrlPathPrefix(const QByteArray& url, QByteArray* prefix) {
    // The user information masked first: a password may hold a "/".
    const QByteArray text = UrlWithoutPassword(url.trimmed());
    const qsizetype scheme = text.indexOf("//");
    qsizetype end = scheme < 0 ? 0 : scheme + 2;
    while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#')
        ++end;
    qsizetype pathEnd = end;
    while (pathEnd < text.size() && text[pathEnd] != '?' && text[pathEnd] != '#')
        ++pathEnd;
    return NormalizedUrlPrefix(QByteArray::fromPercentEncoding(text.mid(end, pathEnd - end)),
                               prefix);
}

QByteArray FileBelowPrefix(QByteArrayView target, const QByteArray& prefix) {
    // The absolute form "http://host/path": its path.
    for (const char* scheme : {"http://", "https://"}) {
        if (target.size() >= qsizetype(std::strlen(scheme)) &&
            QByteArrayView(target.data(), qsizetype(std::strlen(scheme)))
                    .compare(QByteArrayView(scheme), Qt::CaseInsensitive) == 0) {
            const QByteArrayView authority = target.sliced(qsizetype(std::strlen(scheme)));
            const qsizetype slash = authority.indexOf('/');
            target = slash < 0 ? QByteArrayView("/") : authority.sliced(slash);
            break;
        }
    }
    if (target.isEmpty() || target[0] != '/')
        return {};
    // Most requests name their file plainly: below the prefix, no escape, no query, no "."
    // segment, no repeated or trailing slash. The prefix is a decoded path: one holding a "%"
    // matches the target's bytes only once the target is decoded.
    const qsizetype skip = prefix.size() + 1;
    if (target.size() > skip && target.startsWith(prefix) && target[skip - 1] == '/' &&
        !prefix.contains('%')) {
        bool plain = true;
        for (qsizetype i = skip - 1; plain && i < target.size(); ++i) {
            const char c = target[i];
            plain = c != '%' && c != '?' && c != '#' && c != '\0' &&
                    !(c == '/' &&
                      (i + 1 == target.size() || target[i + 1] == '/' || target[i + 1] == '.'));
        }
        if (plain)
            return target.sliced(skip).toByteArray();
    }
    qsizetype pathEnd = 0;
    while (pathEnd < target.size() && target[pathEnd] != '?' && target[pathEnd] != '#')
        ++pathEnd;

    QByteArray decoded;
    decoded.reserve(pathEnd);
    for (qsizetype i = 0; i < pathEnd; ++i) {
        char c = target[i];
        if (c == '%') {
            if (i + 2 >= pathEnd)
                return {};
            const int high = hexValue(target[i + 1]), low = hexValue(target[i + 2]);
            if (high < 0 || low < 0)
                return {};
            c = char(high * 16 + low);
            i += 2;
        }
        if (c == '\0')
            return {};
        decoded += c;
    }

    // Segments as the server maps them to a file.
    std::vector<QByteArrayView> segments;
    const QByteArrayView path(decoded);
    qsizetype start = 0;
    bool directory = true;  // the path ends in "/", "/." or "/.."
    while (start <= path.size()) {
        qsizetype slash = path.indexOf('/', start);
        if (slash < 0)
            slash = path.size();
        const QByteArrayView segment = path.sliced(start, slash - start);
        if (segment == "..") {
            if (segments.empty())
                return {};
            segments.pop_back();
            directory = true;
        } else if (segment.isEmpty() || segment == ".") {
            directory = true;
        } else {
            segments.push_back(segment);
            directory = false;
        }
        start = slash + 1;
    }
    if (directory || segments.empty())
        return {};

    QByteArray file;
    file.reserve(decoded.size());
    for (const QByteArrayView& segment : segments) {
        file += '/';
        file += segment;
    }
    if (!prefix.isEmpty()) {
        if (!file.startsWith(prefix) || file.size() <= prefix.size() + 1 ||
            file[prefix.size()] != '/')
            return {};
        return file.mid(prefix.size() + 1);
    }
    return file.mid(1);
}

// libFuzzer target: the access log line reader (a web server's log is outside bytes), the file
// a request target names below a prefix, and the prefix of a URL.
#include "FuzzSupport.h"

#include "accesslog/AccessLogImport.h"
#include "accesslog/AccessLogLine.h"

namespace {

bool hasControl(QByteArrayView field) {
    for (const char c : field)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

QByteArray text(QByteArrayView view) {
    return view.toByteArray();
}

// The fields a line is written from, copied out of the reader's buffer.
struct Fields {
    QByteArray peer, ident, user, request, referer, agent;
    std::time_t time;
    int offset, status;
    qint64 bytes;
    bool operator==(const Fields& o) const {
        return peer == o.peer && ident == o.ident && user == o.user && request == o.request &&
               referer == o.referer && agent == o.agent && time == o.time && offset == o.offset &&
               status == o.status && bytes == o.bytes;
    }
};

Fields fields(const AccessLogLine& l) {
    return {text(l.peer),      text(l.ident), text(l.user),    text(l.request), text(l.referer),
            text(l.userAgent), l.time,        l.offsetMinutes, l.status,        l.bytes};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const AccessLogFormat format =
        in.ConsumeBool() ? AccessLogFormat::Combined : AccessLogFormat::Common;
    const QByteArray givenPrefix = fuzz::takeBytes(in, 24);
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray raw(rest.data(), qsizetype(rest.size()));

    // The prefix of a URL (the bytes taken as one too): a normalized prefix, which a URL of
    // that path gives again.
    QByteArray urlPrefix;
    if (UrlPathPrefix(givenPrefix, &urlPrefix)) {
        FUZZ_CHECK(urlPrefix.isEmpty() || (urlPrefix.startsWith('/') && !urlPrefix.endsWith('/') &&
                                           !urlPrefix.contains("//")));
        QByteArray again;
        FUZZ_CHECK(UrlPathPrefix("http://h" + urlPrefix.toPercentEncoding("/"), &again) &&
                   again == urlPrefix);
    }

    AccessLogReader reader(format);
    AccessLogLine line;
    if (!reader.Read(raw, &line)) {
        return 0;
    }
    // Fields never hold the separators they were cut at, nor raw line ends.
    FUZZ_CHECK(!raw.chopped(raw.endsWith('\r') ? 1 : 0).contains('\n'));
    FUZZ_CHECK(!line.peer.isEmpty() && !line.peer.contains(' ') && !hasControl(line.peer));
    FUZZ_CHECK(!line.ident.isEmpty() && !line.ident.contains(' ') && !hasControl(line.ident));
    FUZZ_CHECK(!line.user.isEmpty() && !line.user.contains(" [") && !hasControl(line.user));
    FUZZ_CHECK(line.status >= 0 && line.status <= 999 && line.bytes >= -1);
    FUZZ_CHECK(line.offsetMinutes > -24 * 60 && line.offsetMinutes < 24 * 60);
    FUZZ_CHECK((format == AccessLogFormat::Common) == line.userAgent.isNull());
    // The request is the method, the target and the protocol, each without a blank.
    if (!line.method.isEmpty()) {
        FUZZ_CHECK(!line.method.contains(' ') && !line.target.isEmpty() &&
                   !line.target.contains(' ') && !line.protocol.contains(' '));
        const QByteArray joined =
            text(line.method) + ' ' + text(line.target) +
            (line.protocol.isEmpty() ? QByteArray() : ' ' + text(line.protocol));
        FUZZ_CHECK(joined == text(line.request));
    } else {
        FUZZ_CHECK(line.target.isEmpty() && line.protocol.isEmpty());
    }

    // Written again as nginx writes it, the line reads back the same.
    const Fields first = fields(line);
    const QByteArray again = FormatAccessLogLine(format, line);
    AccessLogReader second(format);  // a line's views hold until its reader reads the next
    AccessLogLine reread;
    FUZZ_CHECK(second.Read(again, &reread));
    FUZZ_CHECK(fields(reread) == first);
    FUZZ_CHECK(text(reread.method) == text(line.method) &&
               text(reread.target) == text(line.target));

    // The file below a prefix: a relative path of real segments, below the prefix as written.
    QByteArray prefix;
    if (!NormalizedUrlPrefix(givenPrefix, &prefix))
        return 0;
    FUZZ_CHECK(prefix.isEmpty() ||
               (prefix.startsWith('/') && !prefix.endsWith('/') && !prefix.contains("//")));
    FetchEvent event;
    const bool recorded = FetchEventOfLine(line, prefix, &event);
    const QByteArray file = FileBelowPrefix(line.target, prefix);
    // A query (even empty) takes the careful way through the path: the same file.
    FUZZ_CHECK(FileBelowPrefix(text(line.target) + '?', prefix) == file);
    FUZZ_CHECK(recorded == (!line.method.isEmpty() && !file.isEmpty()));
    if (file.isEmpty())
        return 0;
    FUZZ_CHECK(!file.startsWith('/') && !file.endsWith('/') && !file.contains('\0'));
    for (const QByteArray& segment : file.split('/'))
        FUZZ_CHECK(!segment.isEmpty() && segment != "." && segment != "..");
    // Asked for again through the prefix, the same file.
    FUZZ_CHECK(FileBelowPrefix(QByteArray(prefix + '/' + file.toPercentEncoding("/")), prefix) ==
               file);
    FUZZ_CHECK(event.path == file && event.status == line.status && event.bytes >= 0);
    return 0;
}

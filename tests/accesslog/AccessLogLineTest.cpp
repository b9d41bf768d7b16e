// The access log line reader: the fields of the lines nginx and Apache write, the lines that are
// not in the format, the time's offset, escapes, and the file a request names below a prefix.
#include "accesslog/AccessLogImport.h"
#include "accesslog/AccessLogLine.h"

#include <gtest/gtest.h>

namespace {

QByteArray text(QByteArrayView view) {
    return view.toByteArray();
}

// 2026-12-10T13:03:07Z
constexpr std::time_t kTime = 1796907787;

TEST(AccessLogLine, ReadsTheFieldsOfCombinedAndCommonLines) {
    const struct {
        AccessLogFormat format;
        QByteArray line;
        QByteArray peer, user, method, target, protocol;
        int status;
        qint64 bytes;
        QByteArray referer, agent;
        std::time_t time;
        int offset;
    } cases[] = {
        // nginx's default, with its offset
        {AccessLogFormat::Combined,
         "192.0.2.7 - - [10/Dec/2026:14:03:07 +0100] \"GET /cfg/cfg0a1b2c3d4e5f.xml HTTP/1.1\" "
         "200 13012 \"-\" \"X100 2.1.4 0a1b2c3d4e5f\"",
         "192.0.2.7", "-", "GET", "/cfg/cfg0a1b2c3d4e5f.xml", "HTTP/1.1", 200, 13012, "-",
         "X100 2.1.4 0a1b2c3d4e5f", kTime, 60},
        // Apache's: a user with Basic credentials, a west offset, "-" for no body
        {AccessLogFormat::Combined,
         "2001:db8::5 - alice [10/Dec/2026:08:33:07 -0430] \"HEAD /cfg/12345.cfg HTTP/1.0\" 304 "
         "- \"http://example.org/\" \"curl/7.88.1\"",
         "2001:db8::5", "alice", "HEAD", "/cfg/12345.cfg", "HTTP/1.0", 304, -1,
         "http://example.org/", "curl/7.88.1", kTime, -270},
        // common: no referer, no User-Agent; a line ending of CR LF
        {AccessLogFormat::Common,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /cfg/a%20b.cfg HTTP/2.0\" 404 153\r",
         "10.0.0.9",
         "-",
         "GET",
         "/cfg/a%20b.cfg",
         "HTTP/2.0",
         404,
         153,
         {},
         {},
         kTime,
         0},
        // nginx's escapes (\xNN) and Apache's (\" \\ \t) are decoded
        {AccessLogFormat::Combined,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /x HTTP/1.1\" 200 1 "
         "\"a\\x22b\\x5Cc\\xC3\\xA4\" \"say \\\"hi\\\" \\\\ \\t.\"",
         "10.0.0.9", "-", "GET", "/x", "HTTP/1.1", 200, 1, "a\"b\\c\xC3\xA4", "say \"hi\" \\ \t.",
         kTime, 0},
        // a request that is no "METHOD TARGET PROTOCOL" is in the format, without a method
        {AccessLogFormat::Combined,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"\\x16\\x03\\x01\\x02\" 400 150 \"-\" \"-\"",
         "10.0.0.9", "-", "", "", "", 400, 150, "-", "-", kTime, 0},
        {AccessLogFormat::Combined,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"-\" 400 0 \"-\" \"-\"", "10.0.0.9", "-", "",
         "", "", 400, 0, "-", "-", kTime, 0},
        {AccessLogFormat::Combined,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /a b HTTP/1.1\" 400 0 \"-\" \"-\"",
         "10.0.0.9", "-", "", "", "", 400, 0, "-", "-", kTime, 0},
        // HTTP/0.9: no protocol
        {AccessLogFormat::Combined,
         "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /cfg/x\" 200 5 \"-\" \"-\"", "10.0.0.9",
         "-", "GET", "/cfg/x", "", 200, 5, "-", "-", kTime, 0},
        // a user name with a blank; a leap day
        {AccessLogFormat::Common,
         "10.0.0.9 - bob smith [29/Feb/2028:00:00:00 +0000] \"GET / HTTP/1.1\" 200 0",
         "10.0.0.9",
         "bob smith",
         "GET",
         "/",
         "HTTP/1.1",
         200,
         0,
         {},
         {},
         1835395200,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        AccessLogReader reader(c.format);
        AccessLogLine line;
        ASSERT_TRUE(reader.Read(c.line, &line));
        EXPECT_EQ(text(line.peer), c.peer);
        EXPECT_EQ(text(line.user), c.user);
        EXPECT_EQ(text(line.method), c.method);
        EXPECT_EQ(text(line.target), c.target);
        EXPECT_EQ(text(line.protocol), c.protocol);
        EXPECT_EQ(line.status, c.status);
        EXPECT_EQ(line.bytes, c.bytes);
        EXPECT_EQ(text(line.referer), c.referer);
        EXPECT_EQ(text(line.userAgent), c.agent);
        EXPECT_EQ(line.time, c.time);
        EXPECT_EQ(line.offsetMinutes, c.offset);
        // Written again as nginx writes it, the line reads back the same.
        AccessLogLine again;
        const QByteArray formatted = FormatAccessLogLine(c.format, line);
        const QByteArray agent = text(line.userAgent), request = text(line.request);
        ASSERT_TRUE(reader.Read(formatted, &again)) << formatted.toStdString();
        EXPECT_EQ(text(again.userAgent), agent);
        EXPECT_EQ(text(again.request), request);
        EXPECT_EQ(again.time, c.time);
        EXPECT_EQ(again.bytes, c.bytes);
    }
}

TEST(AccessLogLine, RefusesLinesNotInTheFormat) {
    const QByteArray good =
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /cfg/x HTTP/1.1\" 200 5 \"-\" \"ua\"";
    AccessLogReader combined(AccessLogFormat::Combined);
    AccessLogLine line;
    ASSERT_TRUE(combined.Read(good, &line));
    const QByteArray bad[] = {
        "",
        "garbage",
        good.left(good.size() - 1),  // the User-Agent's quote not closed
        good + " \"extra\"",         // a field more
        good + " ",
        // the common format's line where combined is read
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET /cfg/x HTTP/1.1\" 200 5",
        "10.0.0.9 - - [31/Nov/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [29/Feb/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dez/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:24:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:60 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0060] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 20 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 2000 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5x \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 1234567890123456789 "
        "\"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 \"-\" \"-\"",
        // escapes no server writes, a raw control character, a cut escape
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"\\q\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"\\x4\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"a\tb\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\\\"",
        // fields missing or empty
        " - - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 -  [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
        "10.0.0.9 - - [10/Dec/2026:13:03:07 +0000] GET / HTTP/1.1 200 5 \"-\" \"-\"",
        "10.0.0.9\t- - [10/Dec/2026:13:03:07 +0000] \"GET / HTTP/1.1\" 200 5 \"-\" \"-\"",
    };
    for (const QByteArray& l : bad)
        EXPECT_FALSE(combined.Read(l, &line)) << l.toStdString();
}

TEST(AccessLogLine, NamesTheFileBelowThePrefixAsTheServerMapsIt) {
    const struct {
        QByteArray target, prefix, file;
    } cases[] = {
        {"/cfg/cfg0a1b2c3d4e5f.xml", "/cfg", "cfg0a1b2c3d4e5f.xml"},
        {"/cfg/cfg0a1b2c3d4e5f.xml?v=2#top", "/cfg", "cfg0a1b2c3d4e5f.xml"},
        {"/cfg//sub/./x.cfg", "/cfg", "sub/x.cfg"},
        {"/cfg/sub/../12345.cfg", "/cfg", "12345.cfg"},
        {"/%63fg/a%20b.cfg", "/cfg", "a b.cfg"},
        {"http://phones.example.org/cfg/12345.cfg", "/cfg", "12345.cfg"},
        {"HTTPS://h:8443/cfg/12345.cfg", "/cfg", "12345.cfg"},
        {"/site/a/cfg/x.cfg", "/site/a/cfg", "x.cfg"},
        {"/a%2520b/x.cfg", "/a%20b", "x.cfg"},  // a folder named "a%20b"
        {"/cfg/x.cfg", "", "cfg/x.cfg"},
        // not below the prefix, or no file
        {"/cfgx/x.cfg", "/cfg", ""},
        {"/other/cfg/x.cfg", "/cfg", ""},
        {"/a%20b/x.cfg", "/a%20b", ""},  // "/a b/x.cfg"
        {"/cfg", "/cfg", ""},
        {"/cfg/", "/cfg", ""},
        {"/cfg/sub/", "/cfg", ""},
        {"/cfg/sub/..", "/cfg", ""},
        {"/cfg/../x.cfg", "/cfg", ""},
        {"/../cfg/x.cfg", "/cfg", ""},
        {"/cfg/%2e%2e/x.cfg", "/cfg", ""},
        {"/cfg/x%zz.cfg", "/cfg", ""},
        {"/cfg/x%2", "/cfg", ""},
        {"/cfg/x%00.cfg", "/cfg", ""},
        {QByteArray("/cfg/x\0.cfg", 11), "/cfg", ""},  // a NUL from a "\x00" escape
        {"*", "", ""},
        {"cfg/x.cfg", "", ""},
        {"http://host", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileBelowPrefix(c.target, c.prefix), c.file)
            << c.target.toStdString() << " below " << c.prefix.toStdString();

    const struct {
        QByteArray given, normalized;
        bool ok;
    } prefixes[] = {
        {"/cfg", "/cfg", true}, {"cfg/", "/cfg", true}, {"//a//b/", "/a/b", true},
        {"/", "", true},        {"/a/../b", "", false}, {"/./a", "", false},
        {"/cfg?x", "", false},  {"/cf\ng", "", false},
    };
    for (const auto& p : prefixes) {
        QByteArray normalized = "unchanged";
        EXPECT_EQ(NormalizedUrlPrefix(p.given, &normalized), p.ok) << p.given.toStdString();
        if (p.ok) {
            EXPECT_EQ(normalized, p.normalized) << p.given.toStdString();
        }
    }

    // The prefix of the URL phones are told.
    const struct {
        QByteArray url, prefix;
        bool ok;
    } urls[] = {
        {"http://phones.example.org/cfg", "/cfg", true},
        {" https://phones.example.org:8443/site%207/cfg/ ", "/site 7/cfg", true},
        {"http://user:pa/ss@phones.example.org/cfg", "/cfg", true},  // a "/" in the password
        {"http://token@phones.example.org/a//b?x=1#y", "/a/b", true},
        {"phones.example.org/cfg", "/cfg", true},
        {"http://phones.example.org", "", true},
        {"http://phones.example.org?cfg", "", true},
        {"", "", true},
        {"http://phones.example.org/a/../cfg", "", false},
        {"http://phones.example.org/cfg%0a", "", false},
    };
    for (const auto& u : urls) {
        QByteArray prefix = "unchanged";
        EXPECT_EQ(UrlPathPrefix(u.url, &prefix), u.ok) << u.url.toStdString();
        if (u.ok) {
            EXPECT_EQ(prefix, u.prefix) << u.url.toStdString();
        }
    }
}

TEST(AccessLogLine, RecordsRequestsOfFilesAsExternalDownloads) {
    AccessLogReader reader(AccessLogFormat::Combined);
    AccessLogLine line;
    ASSERT_TRUE(
        reader.Read("192.0.2.7 - - [10/Dec/2026:14:03:07 +0100] \"HEAD "
                    "/cfg/cfg0a1b2c3d4e5f.xml HTTP/1.1\" 200 - \"-\" \"-\"",
                    &line));
    FetchEvent event;
    ASSERT_TRUE(FetchEventOfLine(line, "/cfg", &event));
    EXPECT_STREQ(event.protocol, "external");
    EXPECT_STREQ(event.method, "HEAD");
    EXPECT_EQ(event.peer, "192.0.2.7");
    EXPECT_EQ(event.path, "cfg0a1b2c3d4e5f.xml");
    EXPECT_EQ(event.time, kTime);
    EXPECT_EQ(event.status, 200);
    EXPECT_EQ(event.bytes, 0);
    EXPECT_FALSE(event.complete);            // nobody knows what the client took
    EXPECT_EQ(event.fileSize, -1);           // nor which version of the file was sent
    EXPECT_TRUE(event.userAgent.isEmpty());  // "-": none was sent
    EXPECT_FALSE(FetchEventOfLine(line, "/fw", &event));

    ASSERT_TRUE(
        reader.Read("192.0.2.7 - - [10/Dec/2026:14:03:07 +0100] \"PROPFIND /cfg/x.cfg "
                    "HTTP/1.1\" 405 0 \"-\" \"-\"",
                    &line));
    ASSERT_TRUE(FetchEventOfLine(line, "/cfg", &event));
    EXPECT_STREQ(event.method, "OTHER");
    ASSERT_TRUE(
        reader.Read("192.0.2.7 - - [10/Dec/2026:14:03:07 +0100] \"-\" 400 0 \"-\" \"-\"", &line));
    EXPECT_FALSE(FetchEventOfLine(line, "", &event));
}

}  // namespace

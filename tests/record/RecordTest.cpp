// The provisioning record on real SQLite files in temporary folders, read back by the
// program's reader and by the sqlite3 program.
#include "record/ProvisioningRecord.h"
#include "record/RecordReader.h"
#include "support/FileSizeLimit.h"
#include "support/QtPrinters.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <thread>
#include <vector>

namespace {

using Kind = RecordEvent::Kind;

RecordEvent Event(Kind kind, const char* phone, std::time_t time = 0) {
    RecordEvent e;
    e.kind = kind;
    e.phone = phone;
    e.time = time;
    return e;
}

RecordEvent BatchFile(const char* phone) {
    RecordEvent e = Event(Kind::Batch, phone);
    e.path = "cfg/cfg" + QByteArray(phone);
    e.format = "bin";
    e.protection = "plain";
    return e;
}

RecordEvent Told(Kind kind, const char* phone, const char* address = "192.0.2.20") {
    RecordEvent e = Event(kind, phone);
    e.address = address;
    e.url = "http://192.0.2.1:6000/cfg";
    return e;
}

FetchEvent Fetch(const char* path, int status, const char* peer = "192.0.2.20") {
    FetchEvent f;
    f.time = std::time(nullptr);
    f.peer = peer;
    f.path = path;
    f.status = status;
    f.bytes = status == 200 ? 729 : 15;
    f.userAgent = "Orvo X100 2.0.4.4";
    return f;
}

class Record : public ::testing::Test {
  protected:
    Record() {
        record.SetFailureHandler([this](const QString& path, const QString& reason) {
            failures << path + ": " + reason;
        });
    }
    TempDir dir;
    QString file = dir.file("db/provisioning.sqlite");
    ProvisioningRecord record;
    QStringList failures;
};

TEST_F(Record, MakesItsFolderAndAFileInWalModeThatSqlite3Reads) {
    ASSERT_TRUE(record.Open(file));
    EXPECT_TRUE(record.IsOn());
    record.Add(BatchFile("0a1b2c3d4e5f"));
    record.Add(Told(Kind::Pnp, "0a1b2c3d4e5f"));
    FetchEvent fetch = Fetch("cfg/cfg0a1b2c3d4e5f", 200);
    record.Add(fetch);
    RecordEvent seen = Event(Kind::Discovery, "0a1b2c3d4e5f");
    seen.address = "192.0.2.20";
    seen.model = "Orvo X100";
    seen.version = "2.0.4.4";
    seen.online = 1;
    record.Add(seen);
    ASSERT_TRUE(record.Flush());
    EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();

    EXPECT_EQ(Sqlite3Value(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA user_version"), "1");
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT protocol, peer, path, status, bytes, user_agent, phone "
                          "FROM fetches"),
              QStringList{"http|192.0.2.20|cfg/cfg0a1b2c3d4e5f|200|729|Orvo X100 2.0.4.4|"
                          "0a1b2c3d4e5f"});
    EXPECT_EQ(Sqlite3Rows(file, "SELECT path, phone, format, protection FROM batch_files"),
              QStringList{"cfg/cfg0a1b2c3d4e5f|0a1b2c3d4e5f|bin|plain"});
    EXPECT_EQ(Sqlite3Rows(file, "SELECT kind, address, phone, url FROM commands"),
              QStringList{"pnp|192.0.2.20|0a1b2c3d4e5f|http://192.0.2.1:6000/cfg"});
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT kind, address, phone, model, version, online "
                          "FROM sightings"),
              QStringList{"discovery|192.0.2.20|0a1b2c3d4e5f|Orvo X100|2.0.4.4|1"});

    // The time is ISO 8601 local time with seconds, the time of the event.
    const QString time = Sqlite3Value(file, "SELECT time FROM fetches");
    ASSERT_TRUE(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(time).hasMatch())
        << time.toStdString();
    const QDateTime when = QDateTime::fromString(time, Qt::ISODate);
    EXPECT_LE(std::abs(when.secsTo(QDateTime::currentDateTime())), 5);

    // The whole road of the phone in one row.
    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    const std::vector<PhoneStatus> phones = reader.Phones();
    ASSERT_EQ(phones.size(), 1u);
    const PhoneStatus& p = phones[0];
    EXPECT_EQ(p.phone, "0a1b2c3d4e5f");
    EXPECT_EQ(p.state, PhoneState::Fetched);
    EXPECT_EQ(p.filePath, "cfg/cfg0a1b2c3d4e5f");
    EXPECT_EQ(p.toldBy, "pnp");
    EXPECT_EQ(p.toldAddress, "192.0.2.20");
    EXPECT_EQ(p.fetchStatus, 200);
    EXPECT_EQ(p.fetchBytes, 729);
    EXPECT_EQ(p.fetchProtocol, "http");
    EXPECT_EQ(p.fetchUserAgent, "Orvo X100 2.0.4.4");
    EXPECT_EQ(p.model, "Orvo X100");
    EXPECT_EQ(p.version, "2.0.4.4");
    EXPECT_EQ(reader.Events("0a1b2c3d4e5f").size(), 4u);
    EXPECT_EQ(reader.Events("0a1b2c3d4e5f").front().event.kind, Kind::Discovery);  // newest first
}

// Each case is a road of one phone; the state is that of its latest steps.
TEST_F(Record, EachPhoneStandsWhereItsLatestStepsLeftIt) {
    const struct {
        const char* name;
        std::vector<std::function<void(ProvisioningRecord&, const char*)>> steps;
        const char* state;
    } cases[] = {
        {"batch", {[](auto& r, auto p) { r.Add(BatchFile(p)); }}, "file ready"},
        {"batch, pnp",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Told(Kind::Pnp, p)); }},
         "told"},
        {"batch, provision, fetched",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Told(Kind::Provision, p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 200)); }},
         "fetched"},
        {"batch, 404",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 404)); }},
         "failed"},
        {"batch, 500",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 500)); }},
         "failed"},
        {"xml 404 then bin 200",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p) + ".xml", 404)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 200)); }},
         "fetched"},
        {"bin 200 then xml 404",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 200)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p) + ".xml", 404)); }},
         "fetched"},
        {"fetched, then a new batch",
         {[](auto& r, auto p) { r.Add(BatchFile(p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 200)); },
          [](auto& r, auto p) { r.Add(BatchFile(p)); }},
         "file ready"},
        {"no batch, fetched",
         {[](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 200)); }},
         "unknown phone"},
        {"no batch, pnp, 404",
         {[](auto& r, auto p) { r.Add(Told(Kind::Pnp, p)); },
          [](auto& r, auto p) { r.Add(Fetch("cfg/cfg" + QByteArray(p), 404)); }},
         "unknown phone"},
        {"no batch, upgrade", {[](auto& r, auto p) { r.Add(Told(Kind::Upgrade, p)); }}, "told"},
    };
    ASSERT_TRUE(record.Open(file));
    QStringList expected;
    int n = 0;
    for (const auto& c : cases) {
        const QByteArray phone =
            QByteArray::number(0x0a0000000000LL + ++n, 16).rightJustified(12, '0');
        for (const auto& step : c.steps)
            step(record, phone.constData());
        expected << phone + "|" + c.state;
    }
    // Events of other kinds and files of no phone make no row of their own.
    record.Add(Told(Kind::Refresh, "0bffffffffff"));
    RecordEvent seen = Event(Kind::Refreshed, "0bfffffffffe");
    seen.online = 0;
    record.Add(seen);
    record.Add(Fetch("fw/firmware.rom", 200));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(Sqlite3Rows(file, "SELECT phone, state FROM phone_status ORDER BY phone"), expected);

    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    const struct {
        PhoneFilter filter;
        QStringList states;
    } filters[] = {
        {PhoneFilter::Pending, {"file ready", "told"}},
        {PhoneFilter::Failed, {"failed"}},
        {PhoneFilter::Unknown, {"unknown phone"}},
        {PhoneFilter::All, {"file ready", "told", "fetched", "failed", "unknown phone"}},
    };
    for (const auto& f : filters) {
        int kept = 0;
        for (const PhoneStatus& p : reader.Phones(f.filter)) {
            EXPECT_TRUE(f.states.contains(PhoneStateText(p.state))) << p.phone.toStdString();
            ++kept;
        }
        int wanted = 0;
        for (const QString& row : expected)
            wanted += f.states.contains(row.section('|', 1));
        EXPECT_EQ(kept, wanted) << f.states.join(",").toStdString();
    }
}

TEST_F(Record, EventsOfManyThreadsAreAllCommitted) {
    ASSERT_TRUE(record.Open(file));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 5000; ++i)
                record.Add(Fetch(QByteArray("cfg/cfg0a1b2c3d4e5") + QByteArray::number(t, 16),
                                 i % 2 ? 200 : 404));
        });
    for (auto& t : threads)
        t.join();
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM fetches"), "20000");
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM phones"), "4");
    EXPECT_EQ(record.Dropped(), 0u);
}

TEST_F(Record, ClearingEmptiesTheRecordButKeepsWhatCameAfter) {
    ASSERT_TRUE(record.Open(file));
    record.Add(BatchFile("0a1b2c3d4e5f"));
    ASSERT_TRUE(record.Flush());
    const quint64 before = record.Generation();
    record.Add(Told(Kind::Pnp, "0a1b2c3d4e5f"));
    record.Clear();
    record.Add(BatchFile("0a1b2c3d4e60"));
    ASSERT_TRUE(record.Flush());
    EXPECT_GT(record.Generation(), before);
    EXPECT_EQ(Sqlite3Rows(file, "SELECT kind, phone FROM events"),
              QStringList{"batch|0a1b2c3d4e60"});
    EXPECT_EQ(Sqlite3Rows(file, "SELECT phone FROM phones"), QStringList{"0a1b2c3d4e60"});
}

TEST_F(Record, ReopeningKeepsTheEventsAndPrunesThoseOlderThanTheDaysKept) {
    const std::time_t now = std::time(nullptr);
    ASSERT_TRUE(record.Open(file));
    record.Add(Event(Kind::Batch, "0a0000000001", now - 100 * 86400));
    record.Add(Event(Kind::Batch, "0a0000000002", now - 100 * 86400));
    record.Add(Event(Kind::Pnp, "0a0000000002", now - 10 * 86400));
    record.Add(Event(Kind::Batch, "0a0000000003", now));
    record.Close();

    struct Case {
        int keepDays;
        QStringList events;
        QStringList phones;
    };
    const Case cases[] = {
        {0,
         {"0a0000000001", "0a0000000002", "0a0000000002", "0a0000000003"},
         {"0a0000000001", "0a0000000002", "0a0000000003"}},
        {90, {"0a0000000002", "0a0000000003"}, {"0a0000000002", "0a0000000003"}},
        {5, {"0a0000000003"}, {"0a0000000003"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepDays);
        ASSERT_TRUE(record.Open(file, c.keepDays));
        ASSERT_TRUE(record.Flush());
        EXPECT_EQ(Sqlite3Rows(file, "SELECT phone FROM events ORDER BY id"), c.events);
        EXPECT_EQ(Sqlite3Rows(file, "SELECT phone FROM phones ORDER BY phone"), c.phones);
        record.Close();
    }
    EXPECT_TRUE(failures.isEmpty());
}

// A file that cannot be a record turns recording off with one report; adding goes on silently.
TEST_F(Record, AFileThatCannotBeARecordTurnsRecordingOffOnce) {
    dir.write("plain-file", "text");
    dir.write("garbage.sqlite", QByteArray(8192, 'x'));
    const QString foreign = dir.file("foreign.sqlite");
    ASSERT_EQ(Sqlite3Rows(foreign, "CREATE TABLE contacts (name TEXT)"), QStringList{});
    const QString newer = dir.file("newer.sqlite");
    ASSERT_EQ(Sqlite3Rows(newer, "PRAGMA application_id = 1330796111; PRAGMA user_version = 9"),
              QStringList{});
    const struct {
        QString path;
        const char* reason;
    } cases[] = {
        {dir.file("plain-file/db/provisioning.sqlite"), "cannot be made"},  // also for root
        {dir.file("garbage.sqlite"), "not a database"},
        {foreign, "another program's database"},
        {newer, "newer program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        failures.clear();
        EXPECT_FALSE(record.Open(c.path));
        EXPECT_FALSE(record.IsOn());
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].startsWith(c.path + ": ")) << failures[0].toStdString();
        EXPECT_TRUE(failures[0].contains(c.reason)) << failures[0].toStdString();
        record.Add(BatchFile("0a1b2c3d4e5f"));
        EXPECT_FALSE(record.Flush(100));
        EXPECT_EQ(failures.size(), 1);
    }
    // Nothing was written into the files of others.
    EXPECT_EQ(ReadFileBytes(dir.file("garbage.sqlite")), QByteArray(8192, 'x'));
    EXPECT_EQ(Sqlite3Rows(foreign, "SELECT name FROM sqlite_schema"), QStringList{"contacts"});
}

TEST_F(Record, ADiskThatFillsUpTurnsRecordingOffOnceAndLeavesASoundFile) {
    ASSERT_TRUE(record.Open(file));
    record.Add(BatchFile("0a1b2c3d4e5f"));
    ASSERT_TRUE(record.Flush());
    {
        FileSizeLimit limit(256 * 1024);
        FetchEvent big = Fetch("cfg/cfg0a1b2c3d4e5f", 200);
        big.userAgent = QByteArray(2000, 'u');
        for (int i = 0; i < 2000 && record.IsOn(); ++i) {
            record.Add(big);
            if (i % 100 == 99)
                record.Flush();
        }
        record.Flush();
        EXPECT_FALSE(record.IsOn());
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].startsWith(file + ": ")) << failures[0].toStdString();
        record.Add(big);  // dropped
        record.Close();
    }
    EXPECT_EQ(failures.size(), 1);
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM batch_files"), "1");
}

TEST(RecordText, CellsAreOneLineAndCsvFieldsReadAsTheyWere) {
    EXPECT_EQ(CellText("Orvo X100 2.0"), "Orvo X100 2.0");
    EXPECT_EQ(CellText("a\tb\r\nc\\d"), "a\\x09b\\x0d\\x0ac\\x5cd");
    EXPECT_EQ(CellText("\xc3\xa4"), QString::fromUtf8("\xc3\xa4"));
    const struct {
        const char* cell;
        const char* field;
    } cases[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"two\nlines", "\"two\nlines\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpreadsheetField(c.cell), c.field) << c.cell;
    EXPECT_EQ(SpreadsheetCsv({"phone", "state"}, {{"0a1b2c3d4e5f", "told"}, {"x,y", ""}}),
              "phone,state\r\n0a1b2c3d4e5f,told\r\n\"x,y\",\r\n");
}

}  // namespace

// The provisioning record on real SQLite files in temporary folders, read back by the
// program's reader and by the sqlite3 program.
#include "record/ProvisioningRecord.h"
#include "record/RecordReader.h"
#include "record/RecordSchema.h"
#include "support/FileSizeLimit.h"
#include "support/QtPrinters.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <sys/stat.h>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Kind = RecordEvent::Kind;

RecordEvent Event(Kind kind, const char* phone, qint64 timeMs = 0) {
    RecordEvent e;
    e.kind = kind;
    e.phone = phone;
    e.timeMs = timeMs;
    return e;
}

// A batch file as a batch run records it: its size, digest and the inode and modification time
// the file system gave it (none: a file of unknown version).
RecordEvent BatchFile(const QByteArray& phone, quint64 inode = 0, qint64 size = 729) {
    RecordEvent e = Event(Kind::Batch, phone.constData());
    e.path = "cfg/cfg" + phone;
    e.format = "bin";
    e.protection = "plain";
    e.fileSize = size;
    e.digest = QByteArray(64, 'a');
    e.fileInode = inode;
    e.fileMtimeNs = qint64(inode) * 1000;
    return e;
}

RecordEvent Told(Kind kind, const char* phone, const char* address = "192.0.2.20") {
    RecordEvent e = Event(kind, phone);
    e.address = address;
    e.url = "http://192.0.2.1:6000/cfg";
    return e;
}

// A download as a built-in server reports it: the whole body acknowledged for a 2xx, of the file
// version inode (none: no file opened).
FetchEvent Fetch(const QByteArray& path, int status, quint64 inode = 0,
                 const char* peer = "192.0.2.20") {
    FetchEvent f;
    f.time = std::time(nullptr);
    f.peer = peer;
    f.path = path;
    f.status = status;
    f.complete = status / 100 == 2;
    f.bytes = f.complete ? 729 : 15;
    f.userAgent = "Orvo X100 2.0.4.4";
    if (inode) {
        f.fileSize = 729;
        f.fileInode = inode;
        f.fileMtimeNs = qint64(inode) * 1000;
    }
    return f;
}

// A download read from another web server's access log: its time is its line's second.
FetchEvent External(const QByteArray& path, int status, qint64 bytes, std::time_t time) {
    FetchEvent f;
    f.time = time;
    f.protocol = "external";
    f.peer = "198.51.100.7";
    f.path = path;
    f.status = status;
    f.bytes = bytes;
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
    QStringList States() {
        return Sqlite3Rows(file, "SELECT phone, state FROM phone_status ORDER BY phone");
    }
    TempDir dir;
    QString file = dir.file("db/provisioning.sqlite");
    ProvisioningRecord record;
    QStringList failures;
};

TEST_F(Record, MakesItsFolderAndAFileInWalModeThatSqlite3Reads) {
    ASSERT_TRUE(record.Open(file));
    EXPECT_TRUE(record.IsOn());
    record.Add(BatchFile("0a1b2c3d4e5f", 7));
    record.Add(Told(Kind::Pnp, "0a1b2c3d4e5f"));
    FetchEvent fetch = Fetch("cfg/cfg0a1b2c3d4e5f", 200, 7);
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
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA user_version"), "2");
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT protocol, method, peer, path, status, bytes, complete, "
                          "user_agent, phone, file_size, file_inode, file_mtime_ns FROM fetches"),
              QStringList{"http|GET|192.0.2.20|cfg/cfg0a1b2c3d4e5f|200|729|1|Orvo X100 2.0.4.4|"
                          "0a1b2c3d4e5f|729|7|7000"});
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT path, phone, format, protection, file_size, length(digest), "
                          "file_inode, file_mtime_ns FROM batch_files"),
              QStringList{"cfg/cfg0a1b2c3d4e5f|0a1b2c3d4e5f|bin|plain|729|64|7|7000"});
    EXPECT_EQ(Sqlite3Rows(file, "SELECT kind, address, phone, url FROM commands"),
              QStringList{"pnp|192.0.2.20|0a1b2c3d4e5f|http://192.0.2.1:6000/cfg"});
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT kind, address, phone, model, version, online "
                          "FROM sightings"),
              QStringList{"discovery|192.0.2.20|0a1b2c3d4e5f|Orvo X100|2.0.4.4|1"});

    // Every time is UTC with milliseconds, the time of the event.
    for (const QString& time : Sqlite3Rows(file, "SELECT time FROM events")) {
        ASSERT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                        .match(time)
                        .hasMatch())
            << time.toStdString();
        const QDateTime when = QDateTime::fromString(time, Qt::ISODateWithMs);
        EXPECT_EQ(when.timeSpec(), Qt::UTC);
        EXPECT_LE(std::abs(when.secsTo(QDateTime::currentDateTimeUtc())), 5);
    }

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
    EXPECT_EQ(p.seenAddress, "192.0.2.20");
    EXPECT_EQ(reader.Events("0a1b2c3d4e5f").size(), 4u);
    EXPECT_EQ(reader.Events("0a1b2c3d4e5f").front().event.kind, Kind::Discovery);  // newest first
}

// One step of a phone's road.
using Step = std::function<void(ProvisioningRecord&, const QByteArray& phone)>;

Step Batch(quint64 inode = 0, qint64 size = 729) {
    return [=](ProvisioningRecord& r, const QByteArray& p) { r.Add(BatchFile(p, inode, size)); };
}
Step Tell(Kind kind) {
    return [=](ProvisioningRecord& r, const QByteArray& p) { r.Add(Told(kind, p.constData())); };
}
Step Get(int status, quint64 inode = 0, const std::function<void(FetchEvent&)>& change = {},
         const char* suffix = "") {
    return [=](ProvisioningRecord& r, const QByteArray& p) {
        FetchEvent f = Fetch("cfg/cfg" + p + suffix, status, inode);
        if (change)
            change(f);
        r.Add(f);
    };
}
Step Sighting(Kind kind, int online) {
    return [=](ProvisioningRecord& r, const QByteArray& p) {
        RecordEvent e = Event(kind, p.constData());
        e.address = "192.0.2.30";
        e.online = online;
        r.Add(e);
    };
}
Step Lease() {
    return [=](ProvisioningRecord& r, const QByteArray& p) {
        r.Add(RecordLeaseEvent(p, "192.0.2.40", "phone-40", "Orvo-X100", RecordNowMs() + 3600000));
    };
}
// The next steps happen a second later (as a server's slow answer ends after a new batch).
Step Later() {
    return [](ProvisioningRecord& r, const QByteArray&) {
        r.Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(1010));
    };
}
const auto kCutOff = [](FetchEvent& f) {
    f.complete = false;
    f.bytes = 200000;
};
const auto kHead = [](FetchEvent& f) {
    f.method = "HEAD";
    f.bytes = 0;
};

// Each case is a road of one phone; the state is that of its latest steps.
TEST_F(Record, EachPhoneStandsWhereItsLatestStepsLeftIt) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        const char* state;
    } cases[] = {
        {"batch", {Batch()}, "file ready"},
        {"batch, pnp", {Batch(), Tell(Kind::Pnp)}, "told"},
        {"batch, provision, fetched", {Batch(), Tell(Kind::Provision), Get(200)}, "fetched"},
        {"batch, 404", {Batch(), Get(404)}, "failed"},
        {"batch, 500", {Batch(), Get(500)}, "failed"},
        {"xml 404 then bin 200", {Batch(), Get(404, 0, {}, ".xml"), Get(200)}, "fetched"},
        {"bin 200 then xml 404", {Batch(), Get(200), Get(404, 0, {}, ".xml")}, "fetched"},
        {"fetched, then a new batch", {Batch(), Get(200), Batch()}, "file ready"},
        {"no batch, fetched", {Get(200)}, "unknown phone"},
        {"no batch, pnp, 404", {Tell(Kind::Pnp), Get(404)}, "unknown phone"},
        {"no batch, upgrade", {Tell(Kind::Upgrade)}, "told"},
        // A download cut off before the whole body was acknowledged is no fetch.
        {"told, cut off", {Batch(), Tell(Kind::Pnp), Get(200, 0, kCutOff)}, "failed"},
        {"cut off, then whole", {Batch(), Get(200, 0, kCutOff), Get(200)}, "fetched"},
        // A HEAD is no fetch, nor a failed one.
        {"told, HEAD", {Batch(), Tell(Kind::Pnp), Get(200, 0, kHead)}, "told"},
        // A download counts for the file version it delivered.
        {"version delivered", {Batch(1), Get(200, 1)}, "fetched"},
        {"old version delivered after a new batch", {Batch(1), Batch(2), Get(200, 1)}, "failed"},
        {"new version delivered before its batch event", {Get(200, 3), Batch(3)}, "fetched"},
        {"fetched, new batch, the old version again",
         {Batch(4), Get(200, 4), Batch(5), Later(), Get(200, 4)},
         "failed"},
        // Seen by discovery, an online check or a lease, no batch.
        {"discovered", {Sighting(Kind::Discovery, 1)}, "seen"},
        {"leased", {Lease()}, "seen"},
        {"seen, then a batch", {Lease(), Batch()}, "file ready"},
    };
    ASSERT_TRUE(record.Open(file));
    QStringList expected;
    int n = 0;
    for (const auto& c : cases) {
        const QByteArray phone =
            QByteArray::number(0x0a0000000000LL + ++n, 16).rightJustified(12, '0');
        for (const Step& step : c.steps)
            step(record, phone);
        expected << phone + "|" + c.state;
    }
    // Events of other kinds and files of no phone make no row of their own.
    record.Add(Told(Kind::Refresh, "0bffffffffff"));
    record.Add(Event(Kind::Refreshed, "0bfffffffffe"));  // not answered
    for (const char* path : {"fw/firmware.rom", "fw/firmware.xml", "cfg/common.cfg",
                             "fw/cfg0bfffffffffd", "cfg/$input.cfg", "a/cfg/cfg0bfffffffffc"})
        record.Add(Fetch(path, 200));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(States(), expected);
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM fetches WHERE phone = ''"), "6");

    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    const struct {
        PhoneFilter filter;
        QStringList states;
    } filters[] = {
        {PhoneFilter::Pending, {"file ready", "told"}},
        {PhoneFilter::Failed, {"failed"}},
        {PhoneFilter::Unknown, {"unknown phone"}},
        {PhoneFilter::Seen, {"seen"}},
        {PhoneFilter::All, {"file ready", "told", "fetched", "failed", "unknown phone", "seen"}},
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

// PIN files are phones' only for the PINs a batch wrote; a PIN's road is the same as a MAC's.
TEST_F(Record, APinFileIsAPhonesOnlyWhenABatchWroteIt) {
    ASSERT_TRUE(record.Open(file));
    record.Add(Fetch("cfg/1234.cfg", 200));  // before any batch: no phone's file
    RecordEvent batch = BatchFile("1234");
    batch.path = "cfg/1234.cfg";
    record.Add(batch);
    record.Add(Fetch("cfg/1234.cfg", 200));
    record.Add(Fetch("cfg/5678.cfg", 404));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(States(), QStringList{"1234|fetched"});
    EXPECT_EQ(Sqlite3Rows(file, "SELECT phone FROM fetches"), (QStringList{"", "1234", ""}));
}

// Downloads read from another web server's log: nobody knows their acknowledgment, so a 2xx
// counts only with the bytes of the file the latest batch wrote, and only after it.
TEST_F(Record, AnExternalDownloadCountsOnlyWithTheBytesOfTheLatestFile) {
    const std::time_t now = std::time(nullptr);
    const struct {
        const char* name;
        int status;
        qint64 bytes;
        std::time_t time;
        const char* state;
    } cases[] = {
        {"whole file", 200, 729, now + 1, "fetched"},
        {"fewer bytes", 200, 500, now + 1, "failed"},
        {"not found", 404, 150, now + 1, "failed"},
        {"a download of the old file, before the batch", 200, 729, now - 5, "file ready"},
    };
    ASSERT_TRUE(record.Open(file));
    QStringList expected;
    int n = 0;
    for (const auto& c : cases) {
        const QByteArray phone =
            QByteArray::number(0x0c0000000000LL + ++n, 16).rightJustified(12, '0');
        record.Add(BatchFile(phone, 9, 729));
        record.Add(External("cfg" + phone, c.status, c.bytes, c.time), "/var/log/nginx/access.log");
        expected << phone + "|" + c.state;
    }
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(States(), expected);
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT DISTINCT protocol, coalesce(complete, 'unknown'), source "
                          "FROM fetches"),
              QStringList{"external|unknown|/var/log/nginx/access.log"});
    // The line's second, as the log has it.
    EXPECT_EQ(Sqlite3Value(file, "SELECT time FROM fetches LIMIT 1"),
              QString(RecordTime(qint64(now + 1) * 1000)));
}

// The model and version of a phone come from whatever told them last: a discovery answer or
// online check, a plug-and-play SUBSCRIBE, the User-Agent of its downloads.
TEST_F(Record, ModelAndVersionComeFromWhatThePhoneSaidLast) {
    ASSERT_TRUE(record.Open(file));
    const QByteArray phone = "0a1b2c3d4e5f";
    record.Add(BatchFile(phone));
    RecordEvent pnp = Told(Kind::Pnp, phone.constData());
    pnp.model = "Orvo X100";
    pnp.version = "2.0.4.3";
    record.Add(pnp);
    ASSERT_TRUE(record.Flush());
    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    EXPECT_EQ(reader.Phones()[0].model + " " + reader.Phones()[0].version, "Orvo X100 2.0.4.3");
    FetchEvent f = Fetch("cfg/cfg" + phone, 200);
    f.userAgent = "Orvo X100 2.0.4.4";
    record.Add(f);
    f.userAgent = "curl/8.0";  // says nothing of a model
    record.Add(f);
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(reader.Phones()[0].model + " " + reader.Phones()[0].version, "Orvo X100 2.0.4.4");
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

// Two programs writing one record (the window's servers and orvo-cli batch, or an access-log
// follower): each sees what the other committed.
TEST_F(Record, TwoWritersOfOneFileSeeEachOthersEvents) {
    ASSERT_TRUE(record.Open(file));
    ProvisioningRecord other;
    ASSERT_TRUE(other.Open(file));
    const QByteArray phone = "0a1b2c3d4e5f";
    record.Add(Fetch("cfg/cfg" + phone, 404));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(States(), QStringList{phone + "|unknown phone"});
    other.Add(BatchFile(phone, 11));
    ASSERT_TRUE(other.Flush());
    EXPECT_EQ(States(), QStringList{phone + "|file ready"});
    record.Add(Fetch("cfg/cfg" + phone, 200, 11));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(States(), QStringList{phone + "|fetched"});
    other.Add(Told(Kind::Pnp, phone.constData()));
    ASSERT_TRUE(other.Flush());
    EXPECT_EQ(States(), QStringList{phone + "|fetched"});
    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    QStringList kinds;
    for (const RecordedEvent& e : reader.Events(phone))
        kinds << RecordKindName(e.event.kind);
    EXPECT_EQ(kinds, (QStringList{"pnp", "fetch", "batch", "fetch"}));
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

// Pruning removes what is older than the days kept, but never the latest event of a kind of a
// phone: a batched phone keeps its file, a fetched one its download.
TEST_F(Record, ReopeningKeepsTheEventsAndPrunesThoseOlderThanTheDaysKeptButEachPhonesLatest) {
    const qint64 day = 86400 * 1000;
    const qint64 now = RecordNowMs();
    ASSERT_TRUE(record.Open(file));
    const auto at = [](RecordEvent e, qint64 when) {
        e.timeMs = when;
        return e;
    };
    // Phone 1: two batches and downloads long ago. Phone 2: a batch long ago, told lately.
    // Phone 3: a batch today.
    record.Add(at(BatchFile("0a0000000001"), now - 100 * day));
    FetchEvent early = Fetch("cfg/cfg0a0000000001", 404);
    early.time = std::time_t((now - 100 * day) / 1000);
    record.Add(early);
    record.Add(at(BatchFile("0a0000000001"), now - 99 * day));
    FetchEvent whole = Fetch("cfg/cfg0a0000000001", 200);
    whole.time = std::time_t((now - 98 * day) / 1000);
    record.Add(whole);
    record.Add(at(BatchFile("0a0000000002"), now - 100 * day));
    record.Add(at(Told(Kind::Pnp, "0a0000000002"), now - 10 * day));
    record.Add(at(BatchFile("0a0000000003"), now));
    ASSERT_TRUE(record.Flush());
    const QStringList states{"0a0000000001|fetched", "0a0000000002|told",
                             "0a0000000003|file ready"};
    ASSERT_EQ(States(), states);
    const QStringList all = Sqlite3Rows(file, "SELECT id FROM events ORDER BY id");
    ASSERT_EQ(all.size(), 7);
    record.Close();

    struct Case {
        int keepDays;
        QStringList ids;
    };
    const Case cases[] = {
        {0, all},
        {200, all},
        // The first batch and the 404 of phone 1 are neither recent nor the latest of their kind.
        {90, {all[2], all[3], all[4], all[5], all[6]}},
        {5, {all[2], all[3], all[4], all[5], all[6]}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepDays);
        ASSERT_TRUE(record.Open(file, c.keepDays));
        ASSERT_TRUE(record.Flush());
        EXPECT_EQ(Sqlite3Rows(file, "SELECT id FROM events ORDER BY id"), c.ids);
        EXPECT_EQ(States(), states);
        // The events left of a phone are all found, the newest first.
        RecordReader reader;
        ASSERT_TRUE(reader.Open(file));
        QStringList kinds;
        for (const RecordedEvent& e : reader.Events("0a0000000001"))
            kinds << RecordKindName(e.event.kind);
        const QStringList expected = c.ids.size() == all.size()
                                         ? QStringList{"fetch", "batch", "fetch", "batch"}
                                         : QStringList{"fetch", "batch"};
        EXPECT_EQ(kinds, expected);
        record.Close();
    }
    EXPECT_TRUE(failures.isEmpty());
}

// A file that cannot be a record turns recording off with one report; adding goes on silently.
// Nothing is written into a file that is not ours: it is read on a read-only connection first.
TEST_F(Record, AFileThatCannotBeARecordTurnsRecordingOffOnceAndIsLeftAsItWas) {
    dir.write("plain-file", "text");
    dir.write("garbage.sqlite", QByteArray(8192, 'x'));
    const QString foreign = dir.file("foreign.sqlite");
    ASSERT_EQ(Sqlite3Rows(foreign, "CREATE TABLE contacts (name TEXT)"), QStringList{});
    const QString foreignWal = dir.file("foreign-wal.sqlite");
    ASSERT_EQ(Sqlite3Rows(foreignWal, "PRAGMA journal_mode = WAL; CREATE TABLE notes (t TEXT)"),
              QStringList{"wal"});
    const QString marked = dir.file("marked.sqlite");  // another program's id, no tables yet
    ASSERT_EQ(Sqlite3Rows(marked, "PRAGMA application_id = 42; PRAGMA user_version = 1"),
              QStringList{});
    const QString newer = dir.file("newer.sqlite");
    ASSERT_EQ(Sqlite3Rows(newer,
                          "PRAGMA application_id = 1330796111; PRAGMA user_version = 9; "
                          "CREATE TABLE events (id INTEGER PRIMARY KEY)"),
              QStringList{});
    QDir().mkpath(dir.file("folder.sqlite"));
    const struct {
        QString path;
        const char* reason;
    } cases[] = {
        {dir.file("plain-file/db/provisioning.sqlite"), "cannot be made"},  // also for root
        {dir.file("folder.sqlite"), "folder"},
        {dir.file("garbage.sqlite"), "not a database"},
        {foreign, "another program's database"},
        {foreignWal, "another program's database"},
        {marked, "another program's database"},
        {newer, "newer program"},
    };
    std::map<QString, QByteArray> before;
    for (const auto& c : cases)
        if (QFileInfo(c.path).isFile())
            before[c.path] = ReadFileBytes(c.path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        failures.clear();
        EXPECT_FALSE(record.Open(c.path));
        EXPECT_FALSE(record.IsOn());
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].startsWith(c.path + ": ")) << failures[0].toStdString();
        EXPECT_TRUE(failures[0].contains(c.reason)) << failures[0].toStdString();
        EXPECT_TRUE(record.FailureReason().contains(c.reason));
        record.Add(BatchFile("0a1b2c3d4e5f"));
        EXPECT_FALSE(record.Flush(100));
        EXPECT_EQ(failures.size(), 1);
    }
    // Not a byte changed, the journal mode of the rollback file neither.
    for (const auto& [path, bytes] : before)
        EXPECT_EQ(ReadFileBytes(path), bytes) << path.toStdString();
    EXPECT_EQ(Sqlite3Value(foreign, "PRAGMA journal_mode"), "delete");
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

// TZ for one test: version 1 wrote local times, taken as this machine's when migrated.
class LocalZone {
  public:
    explicit LocalZone(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

// A record of version 1, made as that program made it, is migrated when opened: times to UTC,
// the new columns, each phone where it stood (downloads of no phone's file lose their phone).
TEST_F(Record, ARecordOfVersionOneIsMigratedWhenOpened) {
    LocalZone zone("EST5");  // UTC-5, no summer time
    QDir().mkpath(dir.file("db"));
    QByteArray out, err;
    ASSERT_EQ(RunProgram(
                  "sqlite3",
                  {"-batch", "-init", SourcePath("tests/record/data/record-v1.sql"), file, ".quit"},
                  &out, &err),
              0)
        << err.toStdString();
    const QStringList before = States();
    ASSERT_EQ(before,
              (QStringList{"0a1b2c000001|fetched", "0a1b2c000002|failed", "0a1b2c000003|file ready",
                           "0a1b2c000004|file ready", "0a1b2c000005|fetched",
                           "0a1b2c0000ff|unknown phone", "firmware|unknown phone"}));

    // A reader of a read-only copy migrates in memory and leaves the file alone.
    const QString copy = dir.file("copy.sqlite");
    ASSERT_EQ(Sqlite3Rows(file, "VACUUM INTO '" + copy + "'"), QStringList{});
    ASSERT_EQ(::chmod(QFile::encodeName(copy).constData(), 0444), 0);
    const QByteArray copyBytes = ReadFileBytes(copy);
    {
        RecordReader reader;
        QString reason;
        ASSERT_TRUE(reader.Open(copy, &reason)) << reason.toStdString();
        QStringList states;
        for (const PhoneStatus& p : reader.Phones())
            states << p.phone + "|" + PhoneStateText(p.state);
        EXPECT_EQ(states, before.mid(0, 6));
    }
    EXPECT_EQ(ReadFileBytes(copy), copyBytes);
    EXPECT_EQ(Sqlite3Value(copy, "PRAGMA user_version"), "1");

    ASSERT_TRUE(record.Open(file));
    ASSERT_TRUE(record.Flush());
    EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA user_version"), "2");
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(States(), before.mid(0, 6));
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM log_cursors"), "0");
    EXPECT_EQ(Sqlite3Rows(file, "SELECT time FROM events WHERE kind = 'batch' ORDER BY id"),
              (QStringList{"2026-11-30T18:59:59.000Z", "2026-11-30T19:00:00.000Z",
                           "2026-11-30T19:00:00.000Z", "2026-11-30T19:00:00.000Z",
                           "2026-11-30T19:00:02.000Z", "2026-11-30T19:00:03.000Z"}));
    EXPECT_EQ(Sqlite3Rows(file, "SELECT phone, path FROM fetches WHERE path LIKE 'fw/%'"),
              QStringList{"|fw/firmware.xml"});
    // A download's User-Agent gives a model now.
    EXPECT_EQ(Sqlite3Value(file,
                           "SELECT model || '|' || version FROM phone_status "
                           "WHERE phone = '0a1b2c0000ff'"),
              "Orvo X200|3.1");
    // Each phone's events are linked, the latest first.
    RecordReader reader;
    ASSERT_TRUE(reader.Open(file));
    QStringList kinds;
    for (const RecordedEvent& e : reader.Events("0a1b2c000004"))
        kinds << RecordKindName(e.event.kind);
    EXPECT_EQ(kinds, (QStringList{"batch", "fetch", "batch"}));
    // The new events go on where the old ones stopped.
    record.Add(BatchFile("0a1b2c000003", 21));
    record.Add(Fetch("cfg/cfg0a1b2c000003", 200, 21));
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(Sqlite3Value(file, "SELECT state FROM phone_status WHERE phone = '0a1b2c000003'"),
              "fetched");
}

// A reader says what is wrong with a path, each in its own words (orvo-cli status shows them,
// also as another user: RecordCommandsTest).
// A record of this version made before it kept the access logs' cursors gets their table when
// opened; its events and states stay.
TEST_F(Record, ARecordMadeWithoutTheLogCursorsGetsTheirTableWhenOpened) {
    ASSERT_TRUE(record.Open(file));
    record.Add(BatchFile("0a1b2c000001"));
    ASSERT_TRUE(record.Flush());
    record.Close();
    ASSERT_EQ(Sqlite3Rows(file, "DROP TABLE log_cursors"), QStringList{});
    const QStringList before = States();
    ASSERT_EQ(before, QStringList{"0a1b2c000001|file ready"});

    ASSERT_TRUE(record.Open(file));
    ASSERT_TRUE(record.Flush());
    EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA user_version"), "2");
    EXPECT_EQ(Sqlite3Value(file, "SELECT count(*) FROM log_cursors"), "0");
    EXPECT_EQ(States(), before);
}

TEST_F(Record, AReaderSaysWhatIsWrongWithAPath) {
    ASSERT_TRUE(record.Open(file));
    record.Close();
    dir.write("empty.sqlite", "");
    const struct {
        QString path;
        const char* words;
    } wrong[] = {
        {dir.file("db"), "it is a folder, not a record file"},
        {dir.file("db/none.sqlite"), "no such file"},
        {dir.file("empty.sqlite"), "the file is an empty database, no provisioning record"},
    };
    for (const auto& c : wrong) {
        RecordReader reader;
        QString reason;
        EXPECT_FALSE(reader.Open(c.path, &reason));
        EXPECT_EQ(reason, c.words);
    }
    EXPECT_EQ(ReadFileBytes(dir.file("empty.sqlite")), "");
}

TEST(RecordText, TimesAreUtcWithMillisecondsAndShownInLocalTime) {
    LocalZone zone("EST5");
    const qint64 ms = qint64(1796911387) * 1000 + 123;  // 2026-12-10T14:03:07.123Z
    EXPECT_EQ(RecordTime(ms), "2026-12-10T14:03:07.123Z");
    EXPECT_EQ(RecordTimeMs("2026-12-10T14:03:07.123Z"), ms);
    for (const char* text : {"2026-12-10T14:03:07", "2026-12-10T14:03:07.123+01:00", "",
                             "2026-13-10T14:03:07.123Z", "x026-12-10T14:03:07.123Z"})
        EXPECT_EQ(RecordTimeMs(text), -1) << text;
    EXPECT_EQ(LocalTimeText("2026-12-10T14:03:07.123Z"), "2026-12-10T09:03:07.123-05:00");
    const QDateTime sameDay = QDateTime::fromMSecsSinceEpoch(ms + 3600 * 1000, Qt::UTC);
    const QDateTime nextDay = QDateTime::fromMSecsSinceEpoch(ms + 86400 * 1000, Qt::UTC);
    EXPECT_EQ(ShortTimeText("2026-12-10T14:03:07.123Z", sameDay), "09:03:07");
    EXPECT_EQ(ShortTimeText("2026-12-10T14:03:07.123Z", nextDay), "2026-12-10 09:03");
    EXPECT_EQ(FullTimeText("2026-12-10T14:03:07.123Z"), "2026-12-10 09:03:07");
}

TEST(RecordText, CellsAreOneLineAndCsvFieldsReadAsTheyWereAndNeverAsFormulas) {
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
        // What a spreadsheet would run.
        {"=1+2", "'=1+2"},
        {"+SUM(1;2)", "'+SUM(1;2)"},
        {"@SUM(1;2)", "'@SUM(1;2)"},
        {"-2+3", "'-2+3"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"=HYPERLINK(\"http://x\",\"a\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\""},
        {"cfg/=1+1.cfg", "cfg/=1+1.cfg"},  // not at the start: text anyway
        {"2026-12-10 14:03", "2026-12-10 14:03"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpreadsheetField(c.cell), c.field) << c.cell;
    EXPECT_EQ(SpreadsheetCsv({"phone", "state"}, {{"0a1b2c3d4e5f", "told"}, {"x,y", ""}}),
              "phone,state\r\n0a1b2c3d4e5f,told\r\n\"x,y\",\r\n");
}

TEST(RecordText, ASearchFindsAPhoneByItsMacInAnySpellingOrByItsNames) {
    PhoneStatus p;
    p.phone = "0a1b2c3d4e5f";
    p.filePath = "cfg/cfg0a1b2c3d4e5f";
    p.hostName = "reception-desk";
    p.model = "Orvo X100";
    p.seenAddress = "192.0.2.40";
    for (const char* found : {"", "0a1b2c3d4e5f", "0A:1B:2C:3D:4E:5F", "3d-4e", "MAC0A1B2C",
                              "Reception", "x100", "192.0.2.40", " 4e5f "})
        EXPECT_TRUE(PhoneMatches(p, found)) << found;
    for (const char* missed : {"0a1b2c3d4e60", "lobby", "192.0.2.41", "zz"})
        EXPECT_FALSE(PhoneMatches(p, missed)) << missed;
}

}  // namespace

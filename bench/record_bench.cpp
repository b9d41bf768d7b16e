// The provisioning record under load: how much CPU a recorded download costs (the server
// thread's hand-over and the writer's insert), how fast the writer takes events (as a storm of
// downloads hands them over), and how long the Provisioning page's look at the record takes (the
// per-phone table and the events of one phone) once it holds many phones and a million events.
//   record_bench [--phones N] [--events N] [--folder DIR]
#include "record/ProvisioningRecord.h"
#include "record/RecordReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

// CPU seconds of the whole process so far.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QByteArray mac(int i) {
    return QByteArray::number(0x0a1b2c000000LL + i, 16).rightJustified(12, '0');
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int phones = 1000, total = 1000000;
    QString folder = QDir::tempPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--phones")
            phones = args[i + 1].toInt();
        else if (args[i] == "--events")
            total = args[i + 1].toInt();
        else if (args[i] == "--folder")
            folder = args[i + 1];
    }
    QTemporaryDir dir(folder + "/orvo-record-bench-XXXXXX");
    const QString file = dir.path() + "/provisioning.sqlite";
    ProvisioningRecord record;
    if (!record.Open(file)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
        return 1;
    }
    for (int p = 0; p < phones; ++p) {
        RecordEvent batch;
        batch.kind = RecordEvent::Kind::Batch;
        batch.phone = mac(p);
        batch.path = "cfg/cfg" + mac(p);
        batch.format = "bin";
        batch.protection = "plain";
        batch.fileSize = 729;
        batch.digest = QByteArray(64, 'a');
        batch.fileInode = quint64(1000 + p);
        batch.fileMtimeNs = 1;
        record.Add(batch);
    }
    record.Flush();

    // Four threads hand over downloads as the server's threads do, in rounds the writer keeps
    // up with (a queue beyond its bound would drop them); the milliseconds of handing over.
    // The same loop without recording first: what making the events costs the benchmark.
    const auto downloads = [&](const std::function<void(const FetchEvent&)>& take) {
        double handMs = 0;
        const int round = 50000;
        for (int from = 0; from < total; from += round) {
            const int to = std::min(total, from + round);
            QElapsedTimer hand;
            hand.start();
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([&, t] {
                    FetchEvent f;
                    f.protocol = "http";
                    f.peer = "10.0.0.20";
                    f.status = 200;
                    f.bytes = 729;
                    f.complete = true;
                    f.userAgent = "Orvo X100 2.0.4.4";
                    f.fileSize = 729;
                    f.fileMtimeNs = 1;
                    for (int i = from + t; i < to; i += 4) {
                        f.time = std::time(nullptr);
                        f.path = "cfg/cfg" + mac(i % phones);
                        f.fileInode = quint64(1000 + i % phones);
                        take(f);
                    }
                });
            for (auto& t : threads)
                t.join();
            handMs += double(hand.nsecsElapsed()) / 1e6;
            record.Flush(600000);
        }
        return handMs;
    };
    std::atomic<qint64> sink{0};
    double cpuStart = cpuSeconds();
    downloads([&](const FetchEvent& f) { sink += f.path.size(); });
    const double makingUs = (cpuSeconds() - cpuStart) * 1e6 / total;

    cpuStart = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    const double handMs = downloads([&](const FetchEvent& f) { record.Add(f); });
    const double writeMs = double(clock.nsecsElapsed()) / 1e6;
    const double cpuUs = (cpuSeconds() - cpuStart) * 1e6 / total;
    std::printf(
        "CPU per download, handing over and writing: %.2f us (making the event %.2f us of it: "
        "recording %.2f us)\n",
        cpuUs, makingUs, cpuUs - makingUs);
    std::printf(
        "%d downloads of %d phones: handed over in %.0f ms (%.2f us each), committed "
        "after %.0f ms (%.0f per second), dropped %llu\n",
        total, phones, handMs, handMs * 1000 / total, writeMs, total / writeMs * 1000,
        static_cast<unsigned long long>(record.Dropped()));

    // A new batch for every phone on the full record: each batch event looks back at its
    // phone's latest downloads.
    clock.restart();
    for (int p = 0; p < phones; ++p) {
        RecordEvent batch;
        batch.kind = RecordEvent::Kind::Batch;
        batch.phone = mac(p);
        batch.path = "cfg/cfg" + mac(p);
        batch.fileSize = 729;
        batch.fileInode = quint64(5000 + p);
        batch.fileMtimeNs = qint64(RecordNowMs()) * 1000000;
        record.Add(batch);
    }
    record.Flush(600000);
    std::printf("a batch of %d files recorded in %.0f ms\n", phones,
                double(clock.nsecsElapsed()) / 1e6);

    RecordReader reader;
    reader.Open(file);
    std::vector<double> table, events;
    size_t fetched = 0;
    for (int i = 0; i < 7; ++i) {
        clock.restart();
        const std::vector<PhoneStatus> rows = reader.Phones();
        table.push_back(double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
        const size_t list = reader.Events(mac(i * 97 % phones)).size();
        events.push_back(double(clock.nsecsElapsed()) / 1e6);
        fetched = size_t(std::count_if(rows.begin(), rows.end(), [](const PhoneStatus& p) {
            return p.state == PhoneState::FileReady;
        }));
        if (rows.size() != size_t(phones) || list == 0)
            std::fprintf(stderr, "unexpected: %zu rows, %zu events\n", rows.size(), list);
    }
    std::printf(
        "the page's look at %d events: per-phone table %.1f ms (%zu file ready), the events of one "
        "phone (its latest 1,000) %.1f ms (median of 7)\n",
        total + 2 * phones, medianMs(table), fetched, medianMs(events));
    std::printf("record file: %.0f MB\n", double(QFileInfo(file).size()) / 1e6);
    return 0;
}

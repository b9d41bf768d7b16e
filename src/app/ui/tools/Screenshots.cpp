// orvo-screenshots OUTPUT_FOLDER: starts the main window in the current directory, shows each
// page in turn and saves a picture of the window per page as OUTPUT_FOLDER/<page>.png. The
// provisioning record is filled with a sample site first, and the Provisioning page is taken
// once more with a phone staged on the bench selected (ProvisioningTab-Bench.png) and in German
// (ProvisioningTab-Deutsch.png); then the servers page with the HTTP and
// TFTP servers running (on 127.0.0.1 only) after a change to German, as
// OUTPUT_FOLDER/ServerTab-Deutsch.png.
#include "app/ui/MainProgram.h"
#include "app/ui/Unit1.h"
#include "record/ProvisioningRecord.h"
#include "record/ui/ProvisioningPage.h"
#include "servers/ui/ServerPage.h"

#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>

namespace {

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray sampleMac(int i) {
    return QByteArray::number(0x0a1b2c000000LL + i, 16).rightJustified(12, '0');
}

// A site of 18 phones as the record knows it after an afternoon: most fetched, one download
// cut off, one told, one file ready since yesterday, one served by another web server, four
// leased on the bench, a phone not in the CSV, two only seen.
void fillSampleRecord(ProvisioningRecord& record) {
    const qint64 now = RecordNowMs();
    const char* const models[] = {"Orvo X100 2.0.4.4", "Orvo X200 2.0.4.4", "Orvo X300 2.1.0.2"};
    for (int i = 1; i <= 18; ++i) {
        const QByteArray phone = sampleMac(i);
        const QByteArray address = "10.0.0." + QByteArray::number(20 + i);
        RecordEvent batch;
        batch.kind = RecordEvent::Kind::Batch;
        batch.phone = phone;
        batch.path = "cfg/cfg" + phone;
        batch.format = "bin";
        batch.protection = "plain";
        batch.fileSize = 13312;
        batch.fileInode = quint64(9000 + i);
        batch.fileMtimeNs = 1;
        batch.timeMs = now - (i == 17 ? 26 * 3600 * 1000 : 40 * 60 * 1000);
        record.Add(batch);
        if (i == 17)
            continue;
        if (i <= 4) {
            // Staged on the bench: a lease from the tool's DHCP server before plug-and-play.
            RecordEvent lease = RecordLeaseEvent(phone, address, "desk-" + QByteArray::number(i),
                                                 models[i % 3], now + 3600 * 1000);
            lease.timeMs = now - (31 - i) * 60 * 1000;
            record.Add(lease);
        }
        RecordEvent told;
        told.kind = i == 16 ? RecordEvent::Kind::Provision : RecordEvent::Kind::Pnp;
        told.phone = phone;
        told.address = address;
        told.url = "http://10.0.0.1:6000/cfg";
        told.timeMs = now - (30 - i) * 60 * 1000;
        record.Add(told);
        if (i == 16)
            continue;
        FetchEvent fetch;
        fetch.time = std::time_t((now - (29 - i) * 60 * 1000) / 1000);
        fetch.peer = address;
        fetch.path = i == 18 ? "cfg" + phone : "cfg/cfg" + phone;
        const bool tftp = i % 5 == 0 && i != 15;
        fetch.protocol = i == 18 ? "external" : tftp ? "tftp" : "http";
        fetch.method = tftp ? "RRQ" : "GET";
        fetch.status = 200;
        fetch.complete = i != 15;
        fetch.bytes = i == 15 ? 4096 : 13312;
        fetch.userAgent = models[i % 3];
        fetch.fileSize = i == 18 ? -1 : 13312;
        fetch.fileInode = i == 18 ? 0 : quint64(9000 + i);
        fetch.fileMtimeNs = 1;
        record.Add(fetch, i == 18 ? QByteArray("/var/log/nginx/access.log") : QByteArray());
    }
    FetchEvent stranger;
    stranger.time = std::time_t(now / 1000 - 300);
    stranger.peer = "10.0.0.99";
    stranger.path = "cfg/cfg" + sampleMac(0xff);
    stranger.status = 404;
    stranger.bytes = 150;
    stranger.userAgent = "Orvo X200 2.0.4.1";
    record.Add(stranger);
    record.Add(RecordLeaseEvent(sampleMac(0xa0), "10.0.0.60", "reception-desk", "Orvo X100",
                                now + 3600 * 1000));
    RecordEvent seen;
    seen.kind = RecordEvent::Kind::Discovery;
    seen.phone = sampleMac(0xa1);
    seen.address = "10.0.0.61";
    seen.model = "Orvo X300";
    seen.version = "2.1.0.2";
    seen.online = 1;
    record.Add(seen);
    record.Flush();
}

// A port of 127.0.0.1 free at the moment for sockets of the type, above 1024.
int freeLoopbackPort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

// Saves the window as path; false when it cannot.
bool save(TForm1& form, const QString& path) {
    QScreen* screen = form.screen();
    const QPixmap shot = screen ? screen->grabWindow(form.winId()) : form.grab();
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "orvo-screenshots: cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The servers page after a change to German while the HTTP and TFTP servers run on loopback.
bool germanServers(TForm1& form, const QString& path) {
    ServerPage& servers = *form.ServerTab;
    form.PageControl1->setCurrentWidget(&servers);
    servers.serverBindAddress = "127.0.0.1";
    servers.serverWaitMs = 200;
    servers.MyHttpServerPort->setText(QString::number(freeLoopbackPort(SOCK_STREAM)));
    servers.HttpServerControlButton->click();
    servers.MyTftpServerPort->setText(QString::number(freeLoopbackPort(SOCK_DGRAM)));
    servers.TftpServerControlButton->click();
    const bool running = servers.HttpServerActive() && servers.TftpServerActive();
    servers.LangOptCB->setCurrentText("Deutsch");
    servers.LangConfirmButton->click();
    settle(400);
    const bool saved = running && save(form, path);
    if (!running)
        std::fprintf(stderr, "orvo-screenshots: the servers did not start\n");
    if (servers.HttpServerActive())
        servers.HttpServerControlButton->click();
    if (servers.TftpServerActive())
        servers.TftpServerControlButton->click();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvo-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    int failures = 0;
    const int code = RunOrvoProvisionTool(argc, argv, [&](TForm1& form) {
        QDir().mkpath(out);
        fillSampleRecord(form.Record());
        for (int i = 0; i < form.PageControl1->count(); ++i) {
            form.PageControl1->setCurrentIndex(i);
            settle(400);
            if (form.PageControl1->currentWidget() == form.ProvisioningTab) {
                form.ProvisioningTab->SelectPhone(QString::fromLatin1(sampleMac(15)));
                settle(200);
            }
            const QString name = form.PageControl1->widget(i)->objectName();
            failures += !save(form, out + "/" + name + ".png");
        }
        // A phone staged on the bench: leased, told, fetched.
        form.PageControl1->setCurrentWidget(form.ProvisioningTab);
        form.ProvisioningTab->SelectPhone(QString::fromLatin1(sampleMac(1)));
        settle(200);
        failures += !save(form, out + "/ProvisioningTab-Bench.png");
        // The Provisioning page once more in German.
        form.PageControl1->setCurrentWidget(form.ProvisioningTab);
        if (form.Language().LoadLanguage("Deutsch")) {
            form.ProvisioningTab->Refresh(true);
            settle(400);
            failures += !save(form, out + "/ProvisioningTab-Deutsch.png");
            form.Language().LoadLanguage("English");
        } else {
            ++failures;
        }
        if (!germanServers(form, out + "/ServerTab-Deutsch.png"))
            ++failures;
        form.PageControl1->setCurrentIndex(0);
        form.close();
    });
    return code != 0 ? code : (failures ? 1 : 0);
}

// orvo-screenshots OUTPUT_FOLDER: starts the main window in the current directory, shows each
// page in turn and saves a picture of the window per page as OUTPUT_FOLDER/<page>.png; then the
// servers page with the HTTP and TFTP servers running (on 127.0.0.1 only) after a change to
// German, as OUTPUT_FOLDER/ServerTab-Deutsch.png.
#include "app/ui/MainProgram.h"
#include "app/ui/Unit1.h"
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
        for (int i = 0; i < form.PageControl1->count(); ++i) {
            form.PageControl1->setCurrentIndex(i);
            settle(400);
            const QString name = form.PageControl1->widget(i)->objectName();
            if (!save(form, out + "/" + name + ".png"))
                ++failures;
        }
        if (!germanServers(form, out + "/ServerTab-Deutsch.png"))
            ++failures;
        form.PageControl1->setCurrentIndex(0);
        form.close();
    });
    return code != 0 ? code : (failures ? 1 : 0);
}

// orvo-screenshots OUTPUT_FOLDER: starts the main window in the current directory, shows each
// page in turn and saves a picture of the window per page as OUTPUT_FOLDER/<page>.png.
#include "app/ui/MainProgram.h"
#include "app/ui/Unit1.h"

#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>

namespace {

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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
            QScreen* screen = form.screen();
            const QPixmap shot = screen ? screen->grabWindow(form.winId()) : form.grab();
            const QString path = out + "/" + name + ".png";
            if (shot.isNull() || !shot.save(path)) {
                std::fprintf(stderr, "orvo-screenshots: cannot save %s\n", qPrintable(path));
                ++failures;
            } else {
                std::printf("%s\n", qPrintable(path));
            }
        }
        form.PageControl1->setCurrentIndex(0);
        form.close();
    });
    return code != 0 ? code : (failures ? 1 : 0);
}

// orvo-icon-sizes IN OUTDIR SIZE...: writes IN scaled to each SIZE as
// OUTDIR/<SIZE>x<SIZE>/apps/<IN's file name>, the layout of an icon theme.
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvo-icon-sizes IN OUTDIR SIZE...\n");
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QImage icon(in);
    if (icon.isNull()) {
        std::fprintf(stderr, "orvo-icon-sizes: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        const QString folder = QString::fromLocal8Bit(argv[2]) + QString("/%1x%1/apps").arg(size);
        const QString out = folder + '/' + QFileInfo(in).fileName();
        const QImage scaled =
            icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (size <= 0 || !QDir().mkpath(folder) || !scaled.save(out, "PNG")) {
            std::fprintf(stderr, "orvo-icon-sizes: cannot write size %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}

#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <vector>

// One host of the phone lab, as lab.sh lists it in ORVO_LAB_MANIFEST.
struct LabHost {
    QString kind;  // phone, other, silent
    QString address;
    QString mac;  // "0a-1b-2c-00-01-05"
    QString userAgent;
    QString link;  // "late" (answers ARP late), "lossy" (drops packets) or empty
    // What the grid shows for it: the User-Agent split at its last space.
    QString Model() const { return kind == "silent" ? "unknow" : userAgent.section(' ', 0, -2); }
    QString Version() const { return kind == "silent" ? "unknow" : userAgent.section(' ', -1); }
    // The twelve digits, as in file names and "MAC" + twelve digits.
    QString PlainMac() const { return QString(mac).remove('-'); }
};

// The hosts of the manifest file; empty when it cannot be read.
inline std::vector<LabHost> ReadLabManifest(const QString& path) {
    std::vector<LabHost> hosts;
    QFile manifest(path);
    if (!manifest.open(QIODevice::ReadOnly))
        return hosts;
    for (const QByteArray& line : manifest.readAll().split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() >= 4)
            hosts.push_back({f[0], f[1], f[2], QString::fromUtf8(f[3]), f.value(4)});
    }
    return hosts;
}

// Writes and reads a template of 2,000 and 20,000 parameters as bin and as XML, and encrypts
// a 1 MB XML buffer. Prints the median of several runs in milliseconds.
#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int runs, const std::function<void()>& fn) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        fn();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

ParameterSet makeTemplate(int count) {
    ParameterSet set;
    for (int i = 0; i < count; ++i)
        set.Set(i * 3 + 1, i % 10 == 0
                               ? QByteArray("{$username.line.") + QByteArray::number(i) + "}"
                               : QByteArray("value-") + QByteArray::number(i * 7));
    return set;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int runs = 15;
    std::printf("%-28s %11s %11s %8s\n", "operation", "2,000", "20,000", "ratio");
    for (const char* form : {"bin", "xml"}) {
        const bool bin = form[0] == 'b';
        double write[2], read[2];
        int i = 0;
        for (int count : {2000, 20000}) {
            const ParameterSet set = makeTemplate(count);
            const QString path = dir.filePath(QString("t.%1").arg(form));
            write[i] = medianMs(runs, [&] {
                bin ? WriteBinFile(path, set, BinScrambling::Plain) : WriteXmlFile(path, set);
            });
            ParameterSet back;
            read[i] = medianMs(
                runs, [&] { bin ? (void)ReadBinFile(path, back) : (void)ReadXmlFile(path, back); });
            ++i;
        }
        std::printf("write %-22s %8.2f ms %8.2f ms %7.1fx\n", form, write[0], write[1],
                    write[1] / write[0]);
        std::printf("read  %-22s %8.2f ms %8.2f ms %7.1fx\n", form, read[0], read[1],
                    read[1] / read[0]);
    }
    QByteArray buffer(1 << 20, 'x');
    buffer[buffer.size() - 1] = '\0';
    const double enc = medianMs(runs, [&] { EncryptXmlBuffer(buffer, kDefaultXmlKey); });
    std::printf("%-28s %8.2f ms\n", "encrypt 1 MB XML buffer", enc);
    return 0;
}

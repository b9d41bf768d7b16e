#include "config/BinFile.h"

#include "app/AtomicFile.h"
#include "config/CfgCrypto.h"

#include <QFile>

#include <cstring>

namespace {

constexpr char kPreamble[] = "Flag=5678&CheckSum=0";
constexpr char kEndMark[] = "&end";

qsizetype find2(const char* p, qsizetype n, qsizetype from, char a, char b) {
    for (qsizetype i = from; i + 1 < n; ++i) {
        const void* hit = std::memchr(p + i, a, static_cast<size_t>(n - 1 - i));
        if (!hit)
            return -1;
        i = static_cast<const char*>(hit) - p;
        if (p[i + 1] == b)
            return i;
    }
    return -1;
}

qsizetype find1(const char* p, qsizetype n, qsizetype from, char a) {
    if (from >= n)
        return -1;
    const void* hit = std::memchr(p + from, a, static_cast<size_t>(n - from));
    return hit ? static_cast<const char*>(hit) - p : -1;
}

}  // namespace

QByteArray BuildBinText(const ParameterSet& params) {
    qsizetype size = sizeof kPreamble - 1 + sizeof kEndMark - 1;
    for (const auto& entry : params)
        size += 14 + entry.second.size();
    QByteArray text;
    text.reserve(size);
    text.append(kPreamble, sizeof kPreamble - 1);
    char number[16];
    for (const auto& [p, value] : params) {
        text.append("&P", 2);
        const int len = std::snprintf(number, sizeof number, "%d", p);
        text.append(number, len);
        text.append('=');
        text.append(value);
    }
    text.append(kEndMark, sizeof kEndMark - 1);
    return text;
}

BinReadStatus ParseBinText(const QByteArray& text, ParameterSet& params) {
    params.Clear();
    const char* p = text.constData();
    const qsizetype n = text.size();
    if (n < 5 || std::memcmp(p, "Flag=", 5) != 0)
        return BinReadStatus::NotBin;
    qsizetype pos = find2(p, n, 0, '&', 'P');
    if (pos < 0)
        return BinReadStatus::NoPairs;
    while (pos >= 0) {
        const qsizetype name = pos + 1;
        const qsizetype eq = find1(p, n, name, '=');
        if (eq < 0)
            break;
        const qsizetype next = find2(p, n, eq + 1, '&', 'P');
        qsizetype valueEnd = next;
        if (next < 0) {
            valueEnd = find1(p, n, eq + 1, '&');
            if (valueEnd < 0)
                valueEnd = n;
        }
        params.InsertFirst(LeadingPNumber(p + name + 1, eq - name - 1),
                           QByteArray(p + eq + 1, valueEnd - eq - 1));
        pos = next;
    }
    return BinReadStatus::Ok;
}

BinReadStatus ReadBinFile(const QString& path, ParameterSet& params) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return BinReadStatus::OpenFailed;
    return ParseBinText(file.readAll(), params);
}

bool WriteBinFile(const QString& path, const ParameterSet& params, BinScrambling scrambling) {
    const QByteArray text = BuildBinText(params);
    return WriteFileAtomically(
        path, scrambling == BinScrambling::Scrambled ? ScrambleBinText(text) : text);
}

ConfigFileKind DetectConfigFileKindOfHead(const QByteArray& head) {
    if (head.isEmpty())
        return ConfigFileKind::Unreadable;
    if (head.startsWith("Flag="))
        return ConfigFileKind::Bin;
    const qsizetype zero = head.indexOf('\0');
    const QByteArray text = zero < 0 ? head : head.left(zero);
    return text.contains("<?xml") ? ConfigFileKind::Xml : ConfigFileKind::Other;
}

ConfigFileKind DetectConfigFileKind(QIODevice& file) {
    // A device or pipe cannot be read from its start (and Qt warns when asked to seek in one).
    if (!file.isOpen() || file.isSequential() || !file.seek(0))
        return ConfigFileKind::Unreadable;
    return DetectConfigFileKindOfHead(file.read(128));
}

ConfigFileKind DetectConfigFileKind(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ConfigFileKind::Unreadable;
    return DetectConfigFileKind(file);
}

#pragma once
// Helpers shared by the libFuzzer targets.

#include "app/Dialogs.h"
#include "config/ParameterSet.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A broken promise ends the run like a crash, naming what was broken.
inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}
#define FUZZ_CHECK(condition) ::fuzz::check((condition), #condition)

// Two sets that must be equal; when they are not, both are printed before the run ends.
inline void checkSameSets(const ParameterSet& a, const ParameterSet& b, const char* what) {
    if (a == b)
        return;
    for (const ParameterSet* set : {&a, &b}) {
        std::fprintf(stderr, "set:\n");
        for (const auto& [p, value] : *set)
            std::fprintf(stderr, "  P%d=%s\n", p, value.toPercentEncoding().constData());
    }
    check(false, what);
}
#define FUZZ_CHECK_SAME_SETS(a, b) ::fuzz::checkSameSets((a), (b), #a " == " #b)

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// One folder per process for the files a target writes, removed at exit; in memory when the
// system has a tmpfs at /dev/shm.
inline QString scratchDir() {
    static QTemporaryDir dir([] {
        const QString shm = "/dev/shm";
        return QFileInfo(shm).isWritable() ? shm + "/orvo-fuzz-XXXXXX"
                                           : QDir::tempPath() + "/orvo-fuzz-XXXXXX";
    }());
    return dir.path();
}

inline bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray takeBytes(FuzzedDataProvider& in, size_t maxLength) {
    const std::string s = in.ConsumeRandomLengthString(maxLength);
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

// A parameter set of up to maxCount entries with non-negative P-numbers (negative ones are
// written "P-5", which no reader takes as a P-number) and values accepted by keep.
template <typename Keep>
ParameterSet takeParameters(FuzzedDataProvider& in, int maxCount, Keep keep) {
    ParameterSet params;
    const int count = in.ConsumeIntegralInRange(0, maxCount);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        const PNumber p = in.ConsumeBool() ? in.ConsumeIntegralInRange<PNumber>(0, 400)
                                           : in.ConsumeIntegralInRange<PNumber>(0, INT32_MAX);
        const QByteArray value = takeBytes(in, 64);
        if (keep(value))
            params.InsertFirst(p, value);
    }
    return params;
}

// Dialogs that only remember the messages shown, keys as themselves.
class QuietDialogs : public Dialogs {
  public:
    void message(const UiText& text, const UiText& = {}) override { shown << text.raw(); }
    bool question(const UiText&, const UiText&, Buttons) override { return false; }
    QString openFile(const QString&) override { return {}; }
    QStringList openFiles(const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString chooseFolder(const UiText&) override { return {}; }

    QStringList shown;
};

}  // namespace fuzz

namespace fuzz {

// Whether the value is valid UTF-8 of characters that XML 1.0 allows: what the XML writers store
// so that it reads back as it is (they leave out every other character and byte).
inline bool xmlCharacters(const QByteArray& value) {
    const QString text = QString::fromUtf8(value);
    if (text.toUtf8() != value)
        return false;
    for (const uint c : text.toUcs4()) {
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed)
            return false;
    }
    return true;
}

// A text of nothing but blanks, tabs and line feeds: the XML library drops such a text before a
// tag as it reads (the writers begin it with a character reference, which it keeps).
inline bool onlyBlanks(const QByteArray& value) {
    return !value.isEmpty() && std::all_of(value.begin(), value.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n';
    });
}

// Whether part is what is left of whole when some of its bytes are left out.
inline bool leftOf(const QByteArray& part, const QByteArray& whole) {
    qsizetype at = 0;
    for (const char c : part) {
        while (at < whole.size() && whole[at] != c)
            ++at;
        if (at++ == whole.size())
            return false;
    }
    return true;
}

// Whether a strict XML 1.0 parser accepts the text as a document.
inline bool xmlWellFormed(const QByteArray& text) {
    QXmlStreamReader xml(text);
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

inline bool allXmlCharacters(const ParameterSet& params) {
    for (const auto& entry : params)
        if (!xmlCharacters(entry.second))
            return false;
    return true;
}

}  // namespace fuzz

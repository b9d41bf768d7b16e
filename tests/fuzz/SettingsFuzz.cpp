// libFuzzer target: setting.ini. The input is the file; the program's own keys and every key of
// the file's sections are read, written with values taken from the input, saved and read again.
#include "FuzzSupport.h"
#include "app/SettingsStore.h"
#include "app/SettingsTable.h"
#include "app/TextLines.h"

#include <QDir>
#include <map>
#include <optional>
#include <set>

using namespace fuzz;

namespace {

using Key = std::pair<QString, QString>;
using Values = std::map<Key, std::optional<QString>>;

// The program's keys, and the keys of every section line of the file.
std::vector<Key> keysOf(const QByteArray& text) {
    std::vector<Key> keys;
    for (const SettingKey& s : Setting::All)
        keys.emplace_back(s.section, s.key);
    QString section;
    for (const QByteArray& line : SplitTextLines(text)) {
        const QString l = QString::fromUtf8(line);
        if (l.startsWith('[') && !l.contains('=')) {
            section = l;
        } else if (!section.isEmpty() && l.indexOf('=') > 0) {
            keys.emplace_back(section, l.left(l.indexOf('=')));
        }
        if (keys.size() > 64)
            break;
    }
    return keys;
}

Values valuesOf(const SettingsStore& store, const std::vector<Key>& keys) {
    Values values;
    for (const Key& k : keys)
        values[k] = store.Find(k.first, k.second);
    return values;
}

// A value as a page hands it over: any text.
QString takeValue(FuzzedDataProvider& in) {
    return QString::fromUtf8(takeBytes(in, 32));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const QByteArray text = takeBytes(in, 8192);
    const QString workDir = scratchDir();
    QDir(workDir).mkpath("ini");
    FUZZ_CHECK(writeFile(workDir + "/ini/setting.ini", text));

    SettingsStore store;
    FUZZ_CHECK(store.Load(workDir) && store.HasList());
    const std::vector<Key> keys = keysOf(text);
    Values values = valuesOf(store, keys);

    // A read is the value of a key line of the section; a missing key reads as its default.
    for (const SettingKey& s : Setting::All) {
        const std::optional<QString> v = values[{s.section, s.key}];
        FUZZ_CHECK(store.Read(s) == (v ? *v : QString::fromUtf8(s.defaultValue)));
        FUZZ_CHECK(store.Read(s.section, s.key) == v.value_or(QString()));
    }
    // A section's key lines in file order: the first line of a key is the one a read finds
    // (keys that were not UTF-8 do not name their line any more).
    std::set<QString> sections;
    for (const Key& k : keys)
        sections.insert(k.first);
    for (const QString& section : sections) {
        const QList<SettingsStore::Entry> entries = store.SectionEntries(section);
        for (qsizetype i = 0; i < entries.size() && i < 32; ++i) {
            const QString& k = entries[i].first;
            FUZZ_CHECK(!k.isEmpty() && !k.contains('='));
            qsizetype first = 0;
            while (entries[first].first != k)
                ++first;
            if (!k.contains(QChar::ReplacementCharacter))
                FUZZ_CHECK(store.Find(section, k) == entries[first].second);
        }
    }

    // Writes change the key they name and nothing else; a missing key is not added.
    const int writes = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < writes && !keys.empty(); ++i) {
        const Key& k = keys[in.ConsumeIntegralInRange<size_t>(0, keys.size() - 1)];
        const QString value = takeValue(in);
        const bool written = store.Write(k.first, k.second, value);
        FUZZ_CHECK(written == values[k].has_value());
        // Sections are one section whatever their letter case; a value is stored on its key's
        // line, without line breaks.
        for (auto& [other, v] : values)
            if (written && other.second == k.second &&
                other.first.toUtf8().toLower() == k.first.toUtf8().toLower())
                v = QString(value).remove('\r').remove('\n');
        FUZZ_CHECK(valuesOf(store, keys) == values);
    }

    // Saved and loaded again, every key reads the same; the file is the lines ended by CR LF.
    FUZZ_CHECK(store.Save(workDir));
    const QByteArray saved = readFile(workDir + "/ini/setting.ini");
    FUZZ_CHECK(saved == store.Text());
    FUZZ_CHECK(saved.isEmpty() || saved.endsWith("\r\n"));
    SettingsStore again;
    FUZZ_CHECK(again.Load(workDir));
    FUZZ_CHECK(valuesOf(again, keys) == values);
    FUZZ_CHECK(again.Text() == saved);
    return 0;
}

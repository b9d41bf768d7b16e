// libFuzzer target: language files. The input is a language file in a working folder's
// ini/lang/; it is loaded as the language in force and every name of it is looked up.
#include "FuzzSupport.h"
#include "app/LanguageTable.h"
#include "app/Localization.h"
#include "app/TextLines.h"

#include <QDir>
#include <algorithm>
#include <vector>

using namespace fuzz;

namespace {

// Flips the letter case of ASCII letters (other letters may change length when case-mapped).
QString flipAsciiCase(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if (c >= 'a' && c <= 'z')
            c = QChar(c.unicode() - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = QChar(c.unicode() - 'A' + 'a');
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = bytes(data, size);
    const QString workDir = scratchDir();
    QDir(workDir).mkpath("ini/lang");
    FUZZ_CHECK(writeFile(workDir + "/ini/lang/Fuzz", text));

    // A language in force before: a failed load keeps it.
    LanguageTable table;
    FUZZ_CHECK(table.LoadText("LCfgError1=before\r\n"));
    QuietDialogs dialogs;
    Localization localization(&table, &dialogs);
    localization.SetWorkDir(workDir);
    int applied = 0;
    localization.applyCaptions = [&](const LanguageTable&) { ++applied; };

    const std::vector<QByteArray> lines = SplitTextLines(text);
    const bool loaded = localization.LoadLanguage("Fuzz");
    FUZZ_CHECK(loaded == !lines.empty());
    if (!loaded) {
        FUZZ_CHECK(applied == 0 && dialogs.shown.size() == 1);
        FUZZ_CHECK(table.Translate("lcfgerror1") == "before");
        return 0;
    }
    FUZZ_CHECK(applied == 1 && dialogs.shown.isEmpty() && localization.CurrentName() == "Fuzz");

    // Every name of a line finds the value of the first line of that name, in any ASCII letter
    // case; the earlier language is gone.
    struct Line {
        QString name, lower, value;
    };
    std::vector<Line> named;
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QString name = QString::fromUtf8(line.left(eq));
        named.push_back({name, name.toLower(), QString::fromUtf8(line.mid(eq + 1))});
    }
    for (size_t i = 0; i < named.size() && i < 200; ++i) {
        const QString& name = named[i].name;
        const std::optional<QString> value = table.Lookup(name);
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(table.Lookup(flipAsciiCase(name)) == value);
        FUZZ_CHECK(table.Translate(name) == *value);
        size_t first = 0;
        while (named[first].lower != named[i].lower)
            ++first;
        FUZZ_CHECK(named[first].value == *value);
    }
    const bool hasOldKey = std::any_of(named.begin(), named.end(),
                                       [](const Line& l) { return l.lower == "lcfgerror1"; });
    if (!hasOldKey)
        FUZZ_CHECK(!table.Lookup("LCfgError1").has_value() &&
                   table.Translate("LCfgError1").isEmpty());
    return 0;
}

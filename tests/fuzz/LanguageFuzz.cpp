// libFuzzer target: language files. The input is a language file in a working folder's
// ini/lang/; it is loaded as the language in force and every name of it is looked up.
#include "FuzzSupport.h"
#include "app/LanguageTable.h"
#include "app/Localization.h"
#include "app/TextLines.h"

#include <QDir>

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
    int looked = 0;
    for (size_t i = 0; i < lines.size() && looked < 200; ++i) {
        const qsizetype eq = lines[i].indexOf('=');
        if (eq < 0)
            continue;
        ++looked;
        const QString name = QString::fromUtf8(lines[i].left(eq));
        const std::optional<QString> value = table.Lookup(name);
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(table.Lookup(flipAsciiCase(name)) == value);
        FUZZ_CHECK(table.Translate(name) == *value);
        size_t first = 0;
        for (; first <= i; ++first) {
            const qsizetype e = lines[first].indexOf('=');
            if (e >= 0 && QString::fromUtf8(lines[first].left(e)).toLower() == name.toLower())
                break;
        }
        FUZZ_CHECK(first <= i);
        FUZZ_CHECK(QString::fromUtf8(lines[first].mid(lines[first].indexOf('=') + 1)) == *value);
    }
    bool hasOldKey = false;
    for (const QByteArray& line : lines)
        hasOldKey = hasOldKey ||
                    (line.contains('=') &&
                     QString::fromUtf8(line.left(line.indexOf('='))).toLower() == "lcfgerror1");
    if (!hasOldKey)
        FUZZ_CHECK(!table.Lookup("LCfgError1").has_value() &&
                   table.Translate("LCfgError1").isEmpty());
    return 0;
}

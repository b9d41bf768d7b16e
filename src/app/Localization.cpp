#include "app/Localization.h"

#include "app/Dialogs.h"
#include "app/DirectoryListing.h"
#include "app/SettingsStore.h"
#include "app/SettingsTable.h"

#include <QFileInfo>

QStringList Localization::ListLanguages() const {
    return ListPlainFiles(LanguageDir());
}

void Localization::Start(const SettingsStore& settings) {
    QString name = settings.Read(Setting::Lang);
    if (name.isEmpty() || !QFileInfo(LanguageDir() + name).isFile())
        name = QString::fromUtf8(Setting::Lang.defaultValue);
    currentName_ = name;
    LoadLanguage(name);
}

bool Localization::LoadLanguage(const QString& name) {
    const QString path = LanguageDir() + name;
    const auto refuse = [&](const char* part1, const char* part2) {
        dialogs_->message(UiText::key(part1).addLiteral(path + " ").addKey(part2));
        return false;
    };
    if (!QFileInfo(path).isFile())
        return refuse("LLangError1Part1", "LLangError1Part2");
    switch (table_->LoadFile(path)) {
        case LanguageTable::LoadResult::Missing:
            return refuse("LLangError1Part1", "LLangError1Part2");
        case LanguageTable::LoadResult::Empty:
            return refuse("LLangError2Part1", "LLangError2Part2");
        case LanguageTable::LoadResult::Ok:
            break;
    }
    currentName_ = name;
    if (applyCaptions)
        applyCaptions(*table_);
    return true;
}

bool Localization::ChangeLanguage(const QString& name, SettingsStore* settings) {
    if (name == currentName_)
        return false;
    LoadLanguage(name);
    if (settings)
        settings->Write(Setting::Lang, name);
    return true;
}

#pragma once

#include "app/LanguageTable.h"

#include <QString>
#include <QStringList>
#include <functional>

class Dialogs;
class SettingsStore;

// The language in force: the table, its name, loading a language file from
// <workDir>/ini/lang/ and the messages about it. Applying the captions to the windows is the
// applyCaptions hook, set by the window.
class Localization {
  public:
    Localization(LanguageTable* table, Dialogs* dialogs) : table_(table), dialogs_(dialogs) {}

    void SetWorkDir(const QString& workDir) { workDir_ = workDir; }
    QString LanguageDir() const { return workDir_ + "/ini/lang/"; }
    // The plain files of the language directory, by name.
    QStringList ListLanguages() const;

    // Start-up: [LANG] lang, or "English" when no file of that name exists; then loads it.
    void Start(const SettingsStore& settings);
    // Loads and applies the file of a language. A missing or empty file shows its message
    // (in the language still in force) and leaves everything as it was.
    bool LoadLanguage(const QString& name);
    // The "Change" button: nothing when name is the current language; otherwise loads it and
    // stores the name under [LANG] lang, also when loading failed. True when it acted.
    bool ChangeLanguage(const QString& name, SettingsStore* settings);

    QString CurrentName() const { return currentName_; }
    QString Translate(const QString& key) const { return table_->Translate(key); }
    const LanguageTable& Table() const { return *table_; }

    std::function<void(const LanguageTable&)> applyCaptions;

  private:
    LanguageTable* table_;
    Dialogs* dialogs_;
    QString workDir_;
    QString currentName_;
};

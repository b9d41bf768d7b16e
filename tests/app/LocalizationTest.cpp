#include "app/DirectoryListing.h"
#include "app/Localization.h"
#include "app/SettingsStore.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

namespace {

class LocalizationTest : public ::testing::Test {
  protected:
    LocalizationTest() : localization(&table, &dialogs) {
        localization.SetWorkDir(dir.path());
        localization.applyCaptions = [this](const LanguageTable&) { ++captionsApplied; };
        dir.write("ini/lang/English", "DDButton=Discover Devices\nLContinueQ=Continue?\n");
        dir.write("ini/lang/Deutsch", "DDButton=Geraete suchen\nLContinueQ=Fortfahren?\n");
    }
    SettingsStore settingsWithLang(const QByteArray& lang) {
        SettingsStore s;
        s.LoadText("[LANG]\nlang=" + lang + "\n");
        return s;
    }

    TempDir dir;
    LanguageTable table;
    RecordingDialogs dialogs;
    Localization localization;
    int captionsApplied = 0;
};

TEST_F(LocalizationTest, StartLoadsTheConfiguredLanguageOrFallsBackToEnglish) {
    struct Case {
        QByteArray configured;
        QString expectedName;
        QString expectedText;
    } cases[] = {
        {"Deutsch", "Deutsch", "Geraete suchen"},
        {"Klingon", "English", "Discover Devices"},
        {"", "English", "Discover Devices"},
        {"lang", "English", "Discover Devices"},  // a folder is not a language file
    };
    QDir(dir.path()).mkpath("ini/lang/lang");
    for (const Case& c : cases) {
        LanguageTable fresh;
        Localization loc(&fresh, &dialogs);
        loc.SetWorkDir(dir.path());
        loc.Start(settingsWithLang(c.configured));
        EXPECT_EQ(loc.CurrentName(), c.expectedName) << c.configured.constData();
        EXPECT_EQ(loc.Translate("DDButton"), c.expectedText) << c.configured.constData();
    }
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(LocalizationTest, StartWithoutAnyLanguageFileShowsThePathAlone) {
    QFile::remove(dir.file("ini/lang/English"));
    localization.Start(SettingsStore());
    EXPECT_EQ(localization.CurrentName(), "English");
    ASSERT_EQ(dialogs.shown.size(), 1);
    const QString shown =
        dialogs.shown[0].text.render([&](const QString& k) { return table.Translate(k); });
    EXPECT_EQ(shown, dir.path() + "/ini/lang/English ");
    EXPECT_EQ(captionsApplied, 0);
}

TEST_F(LocalizationTest, MissingOrEmptyFileKeepsTheLanguageInForce) {
    localization.Start(settingsWithLang("English"));
    ASSERT_EQ(captionsApplied, 1);
    dir.write("ini/lang/Empty", "");

    EXPECT_FALSE(localization.LoadLanguage("Nowhere"));
    EXPECT_FALSE(localization.LoadLanguage("Empty"));
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList({"LLangError1Part1", "LLangError1Part2"}));
    EXPECT_EQ(dialogs.shown[0].text.raw(),
              "LLangError1Part1" + dir.path() + "/ini/lang/Nowhere LLangError1Part2");
    EXPECT_EQ(dialogs.shown[1].text.keys(), QStringList({"LLangError2Part1", "LLangError2Part2"}));
    EXPECT_EQ(localization.CurrentName(), "English");
    EXPECT_EQ(localization.Translate("DDButton"), "Discover Devices");
    EXPECT_EQ(captionsApplied, 1);
}

TEST_F(LocalizationTest, ChangeLanguageLoadsAndStoresTheName) {
    SettingsStore settings = settingsWithLang("English");
    localization.Start(settings);

    // The language in force: nothing is loaded, nothing is written.
    settings.Write("[LANG]", "lang", "Untouched");
    EXPECT_FALSE(localization.ChangeLanguage("English", &settings));
    EXPECT_EQ(settings.Read("[LANG]", "lang"), "Untouched");
    EXPECT_EQ(captionsApplied, 1);

    EXPECT_TRUE(localization.ChangeLanguage("Deutsch", &settings));
    EXPECT_EQ(localization.CurrentName(), "Deutsch");
    EXPECT_EQ(localization.Translate("LContinueQ"), "Fortfahren?");
    EXPECT_EQ(settings.Read("[LANG]", "lang"), "Deutsch");
    EXPECT_EQ(captionsApplied, 2);
}

TEST_F(LocalizationTest, ChangeToADeletedFileStillStoresTheName) {
    SettingsStore settings = settingsWithLang("English");
    localization.Start(settings);
    ASSERT_TRUE(QFile::remove(dir.file("ini/lang/Deutsch")));

    EXPECT_TRUE(localization.ChangeLanguage("Deutsch", &settings));
    EXPECT_EQ(dialogs.messages(), QStringList({"LLangError1Part1+LLangError1Part2"}));
    EXPECT_EQ(localization.CurrentName(), "English");
    EXPECT_EQ(localization.Translate("DDButton"), "Discover Devices");
    EXPECT_EQ(settings.Read("[LANG]", "lang"), "Deutsch");

    // The next start falls back to English.
    LanguageTable next;
    Localization restarted(&next, &dialogs);
    restarted.SetWorkDir(dir.path());
    restarted.Start(settings);
    EXPECT_EQ(restarted.CurrentName(), "English");
}

TEST(DirectoryListing, ListsOnlyPlainEntriesByName) {
    TempDir dir;
    QDir root(dir.path());
    for (const char* name : {"beta", "Alpha", "gamma", ".hidden", "readonly"})
        root.mkpath(name);
    dir.write("file.txt", "x");
    dir.write("beta/inner", "x");
    QFile::link(dir.file("beta"), dir.file("link"));
    QFile(dir.file("readonly"))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser);

    EXPECT_EQ(ListPlainDirectories(dir.path()), QStringList({"Alpha", "beta", "gamma"}));

    dir.write("files/English", "a=b");
    dir.write("files/.hidden", "a=b");
    dir.write("files/ReadOnly", "a=b");
    QFile(dir.file("files/ReadOnly")).setPermissions(QFileDevice::ReadOwner);
    root.mkpath("files/folder");
    QFile::link(dir.file("files/English"), dir.file("files/Link"));
    EXPECT_EQ(ListPlainFiles(dir.file("files")), QStringList({"English"}));

    EXPECT_TRUE(ListPlainDirectories(dir.file("missing")).isEmpty());
    EXPECT_TRUE(ListPlainDirectories(QString()).isEmpty());
}

}  // namespace

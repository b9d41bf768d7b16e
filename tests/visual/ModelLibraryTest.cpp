#include "visual/ModelLibrary.h"

#include "support//TempDir.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

TEST(ModelLibrary, ListsPlainModelDirectoriesByName) {
    TempDir dir;
    for (const char* name : {"X210", "X100", ".hidden", "locked"})
        QDir().mkpath(dir.file(QString("models/") + name));
    dir.write("models/readme.txt", "not a model");
    QFile::link(dir.file("models/X100"), dir.file("models/link"));
    QFile::setPermissions(dir.file("models/locked"), QFile::ReadOwner | QFile::ExeOwner);

    EXPECT_EQ(ListModels(dir.path()), (QStringList{"X100", "X210"}));
    QFile::setPermissions(dir.file("models/locked"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ModelLibrary, NoModelsFolderGivesAnEmptyList) {
    TempDir dir;
    EXPECT_TRUE(ListModels(dir.path()).isEmpty());
}

TEST(ModelLibrary, PathsOfANamedAndOfABlankModel) {
    EXPECT_EQ(ModelJsonDir("/w", "X100"), "/w/models/X100/json/");
    EXPECT_EQ(ModelMapPath("/w", "X100"), "/w/models/X100/dev/map.xml");
    EXPECT_EQ(ModelTemplatePath("/w", "X100"), "/w/models/X100/$devCfg.bin");
    for (const QString blank : {"", "  ", "\t"}) {
        EXPECT_TRUE(IsBlankModel(blank));
        EXPECT_EQ(ModelJsonDir("/w", blank), "/w/default/$json/");
        EXPECT_EQ(ModelTemplatePath("/w", blank), "/w/default/$cfg.bin");
    }
    // The map path is always formed from the name; there is no default map.
    EXPECT_EQ(ModelMapPath("/w", ""), "/w/models//dev/map.xml");
}

#pragma once

#include "app/LanguageTable.h"
#include "support/TempDir.h"

#include <QStringList>

// The names (captions' object names, message keys) that a language file supplied with the
// program (data/ini/lang) has no text for, each as "<language>: <name>"; a file that cannot be
// read as "<language>: unreadable".
inline QStringList NamesWithoutText(const QStringList& names) {
    QStringList missing;
    for (const char* language : {"English", "Deutsch"}) {
        LanguageTable table;
        if (table.LoadFile(SourcePath(QString("data/ini/lang/") + language)) !=
            LanguageTable::LoadResult::Ok) {
            missing << QString(language) + ": unreadable";
            continue;
        }
        for (const QString& name : names)
            if (table.Translate(name).isEmpty())
                missing << QString(language) + ": " + name;
    }
    return missing;
}

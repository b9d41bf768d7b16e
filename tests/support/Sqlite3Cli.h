#pragma once

#include "support/TempDir.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The sqlite3 program as an independent reader of record files: the rows of a query, each as
// its fields joined by "|", without the final line break. Empty when sqlite3 failed.
inline QStringList Sqlite3Rows(const QString& file, const QString& sql) {
    QByteArray out;
    if (RunProgram("sqlite3", {"-batch", file, sql}, &out) != 0)
        return {QStringLiteral("<sqlite3 failed>")};
    QStringList rows = QString::fromUtf8(out).split('\n');
    if (!rows.isEmpty() && rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

// The one value of a query (the first row).
inline QString Sqlite3Value(const QString& file, const QString& sql) {
    const QStringList rows = Sqlite3Rows(file, sql);
    return rows.isEmpty() ? QString() : rows.first();
}

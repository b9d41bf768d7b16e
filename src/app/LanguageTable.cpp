#include "app/LanguageTable.h"

#include "app/TextLines.h"

#include <QFile>

LanguageTable::LoadResult LanguageTable::LoadFile(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return LoadResult::Missing;
    return LoadText(file.readAll()) ? LoadResult::Ok : LoadResult::Empty;
}

bool LanguageTable::LoadText(const QByteArray& text) {
    QHash<QString, QString> values;
    const std::vector<QByteArray> lines = SplitTextLines(text);
    if (lines.empty())
        return false;
    for (const QByteArray& line : lines) {
        const int eq = line.indexOf('=');
        if (eq >= 0) {
            const QString name = QString::fromUtf8(line.left(eq)).toLower();
            if (!values.contains(name))
                values.insert(name, QString::fromUtf8(line.mid(eq + 1)));
        }
    }
    values_ = std::move(values);
    loaded_ = true;
    return true;
}

std::optional<QString> LanguageTable::Lookup(const QString& name) const {
    const auto it = values_.constFind(name.toLower());
    if (it == values_.constEnd())
        return std::nullopt;
    return *it;
}

QString LanguageTable::Translate(const QString& key) const {
    return Lookup(key).value_or(QString());
}

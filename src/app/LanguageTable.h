#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

// The lines "name=value" of one language file. Names compare without regard to letter case
// and the first line of a name wins; a line without "=" never matches.
class LanguageTable {
  public:
    enum class LoadResult { Ok, Missing, Empty };

    LoadResult LoadFile(const QString& path);
    // Takes the lines of a text; false (and nothing changes) when it has no line.
    bool LoadText(const QByteArray& text);
    bool IsLoaded() const { return loaded_; }

    // The text of a key, empty when no table is in force or no line matches.
    QString Translate(const QString& key) const;
    // The text of a name, or nothing when no line matches.
    std::optional<QString> Lookup(const QString& name) const;

  private:
    QHash<QString, QString> values_;
    bool loaded_ = false;
};

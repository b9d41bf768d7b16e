#pragma once

#include "app/SettingsTable.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <initializer_list>
#include <optional>
#include <vector>

// The settings list: the lines of ini/setting.ini (or its fallback ini/$default.ini), read
// once at start, changed in memory, and written back once at exit.
//
// A section is a line "[NAME]" (found ignoring letter case; the first such line counts); its
// keys are the "key=value" lines right after it, up to the first line whose key part is empty.
// Key names compare exactly. Writes replace an existing key line and never add one.
class SettingsStore {
  public:
    using Entry = QPair<QString, QString>;

    // Reads <workDir>/ini/setting.ini, else <workDir>/ini/$default.ini. False when neither
    // exists; the store then has no list.
    bool Load(const QString& workDir);
    // Reads one file as the list; false when it cannot be read.
    bool LoadFile(const QString& path);
    // Takes the lines of a text (CR LF, LF or CR line breaks).
    void LoadText(const QByteArray& text);
    bool HasList() const { return hasList_; }

    // The value of the first matching key line, or nothing.
    std::optional<QString> Find(const QString& section, const QString& key) const;
    // Empty text when missing.
    QString Read(const QString& section, const QString& key) const;
    // The value, or the table's default when the key is missing.
    QString Read(const SettingKey& setting) const;
    // The leading decimal number of the value (0 when missing or not a number).
    int ReadInt(const SettingKey& setting) const;
    // The key lines of a section, in file order.
    QList<Entry> SectionEntries(const QString& section) const;

    // Replaces the first matching key line; false (and nothing changes) when the section or
    // the key is missing. CR and LF are left out of the value, which stays on its line.
    bool Write(const QString& section, const QString& key, const QString& value);
    bool Write(const SettingKey& setting, const QString& value) {
        return Write(setting.section, setting.key, value);
    }
    // A section that settings files written by earlier versions lack: when the list has no
    // such section, it is appended with these keys at their defaults (all of one section), so
    // that their writes are kept. Nothing when there is no list or the section exists.
    void AddSectionIfMissing(std::initializer_list<SettingKey> keys);
    // A key that settings files written by earlier versions lack: appended at its default after
    // the last key line of its section (the section too when missing), so that its writes are
    // kept. Nothing when there is no list or the key exists.
    void AddKeyIfMissing(const SettingKey& key);
    // The list holds a secret (a password): Save writes the file readable by its owner only.
    void SetPrivate(bool isPrivate) { private_ = isPrivate; }

    // Writes the list to <workDir>/ini/setting.ini, each line followed by CR LF, replacing the
    // old file atomically. Nothing (and true) when there is no list.
    bool Save(const QString& workDir) const;
    QByteArray Text() const;
    void Clear();

  private:
    // Index of the first key line matching key in section, or -1.
    int keyLine(const QString& section, const QString& key) const;
    int sectionLine(const QString& section) const;

    std::vector<QByteArray> lines_;
    bool hasList_ = false;
    bool private_ = false;
};

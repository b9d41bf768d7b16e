#include "app/SettingsStore.h"

#include "app/AtomicFile.h"
#include "app/Numbers.h"
#include "app/TextLines.h"

#include <QFile>
#include <QFileInfo>

namespace {

// The key part of a line: the text before the first "=", empty without one.
QByteArray keyPart(const QByteArray& line) {
    const int eq = line.indexOf('=');
    return eq < 0 ? QByteArray() : line.left(eq);
}

}  // namespace

bool SettingsStore::Load(const QString& workDir) {
    const QString primary = workDir + "/ini/setting.ini";
    const QString fallback = workDir + "/ini/$default.ini";
    if (QFileInfo::exists(primary))
        return LoadFile(primary);
    if (QFileInfo::exists(fallback))
        return LoadFile(fallback);
    Clear();
    return false;
}

bool SettingsStore::LoadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Clear();
        return false;
    }
    LoadText(file.readAll());
    return true;
}

void SettingsStore::LoadText(const QByteArray& text) {
    lines_ = SplitTextLines(text);
    hasList_ = true;
}

void SettingsStore::Clear() {
    lines_.clear();
    hasList_ = false;
}

int SettingsStore::sectionLine(const QString& section) const {
    const QByteArray wanted = section.toUtf8();
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

int SettingsStore::keyLine(const QString& section, const QString& key) const {
    const int start = sectionLine(section);
    if (start < 0)
        return -1;
    const QByteArray wanted = key.toUtf8();
    for (size_t i = static_cast<size_t>(start) + 1; i < lines_.size(); ++i) {
        const QByteArray k = keyPart(lines_[i]);
        if (k.isEmpty())
            return -1;
        if (k == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<QString> SettingsStore::Find(const QString& section, const QString& key) const {
    const int i = keyLine(section, key);
    if (i < 0)
        return std::nullopt;
    const QByteArray& line = lines_[static_cast<size_t>(i)];
    return QString::fromUtf8(line.mid(line.indexOf('=') + 1));
}

QString SettingsStore::Read(const QString& section, const QString& key) const {
    return Find(section, key).value_or(QString());
}

QString SettingsStore::Read(const SettingKey& setting) const {
    return Find(setting.section, setting.key).value_or(QString::fromUtf8(setting.defaultValue));
}

int SettingsStore::ReadInt(const SettingKey& setting) const {
    return ReadLeadingInt(Read(setting));
}

QList<SettingsStore::Entry> SettingsStore::SectionEntries(const QString& section) const {
    QList<Entry> out;
    const int start = sectionLine(section);
    if (start < 0)
        return out;
    for (size_t i = static_cast<size_t>(start) + 1; i < lines_.size(); ++i) {
        const QByteArray& line = lines_[i];
        const int eq = line.indexOf('=');
        if (eq <= 0)
            break;
        out.append({QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1))});
    }
    return out;
}

bool SettingsStore::Write(const QString& section, const QString& key, const QString& value) {
    const int i = keyLine(section, key);
    if (i < 0)
        return false;
    // A line break would end the key line there and hide the next key.
    lines_[static_cast<size_t>(i)] = key.toUtf8() + '=' + WithoutLineBreaks(value).toUtf8();
    return true;
}

void SettingsStore::AddSectionIfMissing(std::initializer_list<SettingKey> keys) {
    if (!hasList_ || keys.size() == 0 || sectionLine(keys.begin()->section) >= 0)
        return;
    if (!lines_.empty() && !lines_.back().isEmpty())
        lines_.emplace_back();
    lines_.emplace_back(keys.begin()->section);
    for (const SettingKey& k : keys)
        lines_.push_back(QByteArray(k.key) + '=' + k.defaultValue);
}

void SettingsStore::AddKeyIfMissing(const SettingKey& key) {
    if (!hasList_ || keyLine(key.section, key.key) >= 0)
        return;
    const int start = sectionLine(key.section);
    if (start < 0) {
        AddSectionIfMissing({key});
        return;
    }
    size_t end = static_cast<size_t>(start) + 1;
    while (end < lines_.size() && !keyPart(lines_[end]).isEmpty())
        ++end;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(end),
                  QByteArray(key.key) + '=' + key.defaultValue);
}

QByteArray SettingsStore::Text() const {
    QByteArray out;
    for (const QByteArray& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

bool SettingsStore::Save(const QString& workDir) const {
    if (!hasList_)
        return true;
    const QString path = workDir + "/ini/setting.ini";
    return private_ ? WriteFileAtomically(path, Text(), 0600) : WriteFileAtomically(path, Text());
}

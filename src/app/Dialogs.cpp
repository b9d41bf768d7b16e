#include "app/Dialogs.h"

UiText UiText::key(const QString& k) {
    UiText t;
    t.parts_.emplace_back(true, k);
    return t;
}

UiText UiText::literal(const QString& s) {
    UiText t;
    t.parts_.emplace_back(false, s);
    return t;
}

UiText& UiText::add(const UiText& other) {
    parts_.insert(parts_.end(), other.parts_.begin(), other.parts_.end());
    return *this;
}

QStringList UiText::keys() const {
    QStringList out;
    for (const auto& [isKey, text] : parts_)
        if (isKey)
            out << text;
    return out;
}

QString UiText::raw() const {
    QString out;
    for (const auto& part : parts_)
        out += part.second;
    return out;
}

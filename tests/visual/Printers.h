#pragma once

#include <QString>
#include <QStringList>
#include <ostream>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join("\", \"").prepend('"').append('"').toStdString() << '}';
}
inline void PrintTo(const QByteArray& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

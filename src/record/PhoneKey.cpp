#include "record/PhoneKey.h"

#include <algorithm>
#include <cstring>

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool twelveHex(const QByteArray& text) {
    if (text.size() != 12)
        return false;
    for (char c : text)
        if (!isHex(c))
            return false;
    return true;
}

}  // namespace

QByteArray PhoneOfMac(const QByteArray& text) {
    QByteArray digits = text.trimmed();
    if (digits.size() > 3 && digits.left(3).toUpper() == "MAC")
        digits = digits.mid(3);
    if (digits.size() == 17) {
        // Six pairs joined by one separator kind.
        const char separator = digits[2];
        if (separator != '-' && separator != ':')
            return {};
        for (int i = 2; i < 17; i += 3)
            if (digits[i] != separator)
                return {};
        digits.replace(separator, QByteArray());
    }
    return twelveHex(digits) ? digits.toLower() : QByteArray();
}

PhoneFile PhoneFileOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash >= 0 && !(slash == 3 && path.startsWith("cfg")))
        return {};
    // The name, read in place: a download per event must not cost allocations.
    const char* name = path.constData() + slash + 1;
    const qsizetype size = path.size() - slash - 1;
    const auto endsWith = [&](const char* ext) {
        return size > 4 && std::memcmp(name + size - 4, ext, 4) == 0;
    };
    if (size >= 15 && std::memcmp(name, "cfg", 3) == 0) {
        const qsizetype digits = size - 3 - (endsWith(".xml") ? 4 : 0);
        if (digits == 12 && std::all_of(name + 3, name + 15, isHex))
            return {QByteArray(name + 3, 12).toLower(), false};
    }
    if (endsWith(".cfg") || endsWith(".xml"))
        return {QByteArray(name, size - 4), true};
    return {};
}

namespace {

// Without the blanks at either end.
QByteArray withoutBlanks(const QByteArray& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == ' ')
        ++from;
    while (to > from && text[to - 1] == ' ')
        --to;
    return text.mid(from, to - from);
}

}  // namespace

bool SplitUserAgent(const QByteArray& value, QByteArray* model, QByteArray* version) {
    const QByteArray v = withoutBlanks(value);
    const qsizetype space = v.lastIndexOf(' ');
    if (space <= 0)
        return false;
    *version = v.mid(space + 1);
    *model = withoutBlanks(v.left(space));
    return true;
}

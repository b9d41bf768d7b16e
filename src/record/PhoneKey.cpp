#include "record/PhoneKey.h"

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
    if (slash >= 0 && path.left(slash) != "cfg")
        return {};
    const QByteArray name = path.mid(slash + 1);
    if (name.startsWith("cfg")) {
        QByteArray mac = name.mid(3);
        if (mac.endsWith(".xml"))
            mac.chop(4);
        if (twelveHex(mac))
            return {mac.toLower(), false};
    }
    if (name.size() > 4 && (name.endsWith(".cfg") || name.endsWith(".xml")))
        return {name.chopped(4), true};
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

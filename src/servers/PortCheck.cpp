#include "servers/PortCheck.h"

#include "app/Numbers.h"

namespace {

PortCheck checkPort(const QString& portText, const char* notDigits, const char* outOfRange,
                    int lowest = 1025, int highest = 65525) {
    PortCheck check;
    check.text = portText.trimmed();
    for (const QChar c : check.text) {
        if (c < '0' || c > '9') {
            check.errorKey = notDigits;
            return check;
        }
    }
    // An empty text reads as 0; long digit runs are clamped and so stay out of range.
    const int value = ReadLeadingInt(check.text);
    if (value < lowest || value > highest) {
        check.errorKey = outOfRange;
        return check;
    }
    check.port = value;
    return check;
}

}  // namespace

PortCheck CheckHttpServerPort(const QString& portText) {
    return checkPort(portText, "LHttpPortError1", "LHttpPortError2");
}

PortCheck CheckPnpServerPort(const QString& portText) {
    return checkPort(portText, "LPnpPortError1", "LPnpPortError2");
}

PortCheck CheckTftpServerPort(const QString& portText) {
    return checkPort(portText, "LTftpPortError1", "LTftpPortError2", 1, 65535);
}

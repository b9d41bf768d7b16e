#include "servers/HttpServerPort.h"

#include "app/Numbers.h"

HttpServerPortCheck CheckHttpServerPort(const QString& portText) {
    HttpServerPortCheck check;
    check.text = portText.trimmed();
    for (const QChar c : check.text) {
        if (c < '0' || c > '9') {
            check.errorKey = "LHttpPortError1";
            return check;
        }
    }
    // An empty text reads as 0; long digit runs are clamped and so stay out of range.
    const int value = ReadLeadingInt(check.text);
    if (value <= 1024 || value > 65525) {
        check.errorKey = "LHttpPortError2";
        return check;
    }
    check.port = value;
    return check;
}

QString BuiltInServerUrl(const QString& address, const QString& port, const QString& folder) {
    return "http://" + address + ":" + port + "/" + folder;
}

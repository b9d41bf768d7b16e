#include "app/ServerUrl.h"

#include <QUrl>

QByteArray ConfigServerUrl(bool builtInServer, const QByteArray& interfaceText,
                           const QByteArray& portText, const QByteArray& externalUrl,
                           ServerProtocol protocol, const UrlAccess& access, const char* folder) {
    if (!builtInServer)
        return externalUrl.trimmed();
    if (protocol == ServerProtocol::Tftp)
        return "tftp://" + interfaceText + ":" + portText.trimmed() + folder;
    QByteArray url = access.https ? "https://" : "http://";
    if (!access.user.isEmpty() || !access.password.isEmpty())
        url += QUrl::toPercentEncoding(QString::fromUtf8(access.user)) + ":" +
               QUrl::toPercentEncoding(QString::fromUtf8(access.password)) + "@";
    return url + interfaceText + ":" + portText.trimmed() + folder;
}

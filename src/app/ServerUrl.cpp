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

QByteArray UrlWithoutPassword(const QByteArray& url) {
    const qsizetype start = url.indexOf("//");
    if (start < 0)
        return url;
    const qsizetype authority = start + 2;
    qsizetype end = url.indexOf('/', authority);
    if (end < 0)
        end = url.size();
    const qsizetype at = url.lastIndexOf('@', end - 1);
    if (at < authority)
        return url;
    const qsizetype colon = url.indexOf(':', authority);
    if (colon < 0 || colon > at)
        return url;
    return url.left(colon + 1) + "***" + url.mid(at);
}

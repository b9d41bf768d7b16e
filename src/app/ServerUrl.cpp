#include "app/ServerUrl.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

QByteArray ConfigServerUrl(ServerSource source, const QByteArray& interfaceText,
                           const QByteArray& portText, const QByteArray& externalUrl,
                           ServerProtocol protocol, const UrlAccess& access, const char* folder) {
    if (source == ServerSource::External)
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
    qsizetype end = authority;
    while (end < url.size() && url[end] != '/' && url[end] != '?' && url[end] != '#')
        ++end;
    // "host", "host:port", "[v6]:port": no user information; an "@" after it is the path's.
    static const QRegularExpression hostAndPort("^(\\[[^\\]@]*\\]|[^:@\\[\\]]*)(:[0-9]*)?$");
    if (hostAndPort.match(QString::fromLatin1(url.mid(authority, end - authority))).hasMatch())
        return url;
    const qsizetype at = url.lastIndexOf('@');
    if (at < authority)
        return url;
    const qsizetype colon = url.indexOf(':', authority);
    if (colon < 0 || colon > at)
        return url.left(authority) + "***" + url.mid(at);
    return url.left(colon + 1) + "***" + url.mid(at);
}

bool IsHostName(const QString& text) {
    static const QRegularExpression label("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$");
    static const QRegularExpression digits("^[0-9]+$");
    if (text.isEmpty() || text.size() > 253)
        return false;
    const QStringList labels = text.split('.');
    for (const QString& l : labels)
        if (!label.match(l).hasMatch())
            return false;
    return !digits.match(labels.last()).hasMatch();
}

#include "protection/ServerProtection.h"

#include "app/Numbers.h"
#include "app/SettingsStore.h"

#include <QFile>

UrlAccess ServerProtection::Url() const {
    return {https, user.toUtf8(), password.toUtf8()};
}

ServerProtection ReadServerProtection(const SettingsStore& settings) {
    // One pass over the section, as the servers page reads it: a key that stands twice takes
    // its last value.
    ServerProtection p;
    for (const auto& [key, value] : settings.SectionEntries(Setting::HttpsOn.section)) {
        if (key == Setting::HttpsOn.key)
            p.https = ReadLeadingInt(value) != 0;
        else if (key == Setting::HttpTlsCert.key)
            p.certFile = value;
        else if (key == Setting::HttpTlsKey.key)
            p.keyFile = value;
        else if (key == Setting::HttpAllow.key)
            p.allowText = value;
        else if (key == Setting::HttpAuthUser.key)
            p.user = value;
        else if (key == Setting::HttpAuthPassword.key)
            p.password = value;
    }
    return p;
}

void WriteServerProtection(SettingsStore& settings, const ServerProtection& p) {
    const std::pair<SettingKey, QString> values[] = {
        {Setting::HttpsOn, p.https ? "1" : "0"}, {Setting::HttpTlsCert, p.certFile},
        {Setting::HttpTlsKey, p.keyFile},        {Setting::HttpAllow, p.allowText},
        {Setting::HttpAuthUser, p.user},         {Setting::HttpAuthPassword, p.password},
    };
    for (const auto& [key, value] : values) {
        settings.AddKeyIfMissing(key);
        settings.Write(key, value);
    }
    settings.SetPrivate(!p.password.isEmpty());
}

PreparedProtection PrepareAccess(const ServerProtection& protection) {
    PreparedProtection out;
    AddressAllowList allowList;
    QString bad;
    // An empty field allows everyone; separators without an entry are no such field.
    const QString allowText = protection.allowText.trimmed();
    if (!allowList.Parse(allowText, &bad) || (!allowText.isEmpty() && allowList.IsEmpty())) {
        out.error = UiText::key("LAllowListError1").addLiteral(bad.isEmpty() ? allowText : bad);
        return out;
    }
    const QString problem = BasicCredentials::Problem(protection.user, protection.password);
    if (!problem.isEmpty()) {
        out.error = UiText::key(problem);
        return out;
    }
    BasicCredentials credentials(protection.user.toUtf8(), protection.password.toUtf8());
    if (!allowList.IsEmpty() || credentials.IsSet())
        out.access = std::make_shared<ServerAccess>(std::move(allowList), std::move(credentials));
    return out;
}

PreparedProtection PrepareProtection(const ServerProtection& protection, const QString& tlsFolder,
                                     const QString& address, const QStringList& others) {
    PreparedProtection out = PrepareAccess(protection);
    if (!out.error.isEmpty() || !protection.https)
        return out;
    out.https = true;
    const bool cert = !protection.certFile.trimmed().isEmpty();
    const bool key = !protection.keyFile.trimmed().isEmpty();
    if (cert != key) {
        out.error = UiText::key("LHttpsError1");
        return out;
    }
    QString reason;
    if (cert) {
        out.tls = {protection.certFile.trimmed(), protection.keyFile.trimmed()};
    } else if (!EnsureSelfSignedCertificate(tlsFolder, address, others, &out.tls,
                                            &out.madeCertificate, &reason)) {
        out.error = UiText::key("LHttpsError3").addLiteral(reason);
        return out;
    }
    out.fingerprint = CertificateFingerprint(out.tls.certFile);
    return out;
}

QList<QByteArray> HttpProtectionLines(const PreparedProtection& prepared) {
    QList<QByteArray> lines;
    const QByteArray subject = "Built-in HTTP Server: ";
    if (prepared.madeCertificate)
        lines << subject +
                     "made a self-signed certificate: " + QFile::encodeName(prepared.tls.certFile);
    if (prepared.https)
        lines << subject + "HTTPS, certificate " + QFile::encodeName(prepared.tls.certFile) +
                     ", SHA-256 " + prepared.fingerprint;
    if (prepared.access && !prepared.access->AllowList().IsEmpty())
        lines << subject + "downloads allowed from " + prepared.access->AllowList().Text().toUtf8();
    if (prepared.access && prepared.access->Credentials().IsSet())
        lines << subject + "credentials required, user " + prepared.access->Credentials().User();
    return lines;
}

QList<QByteArray> TftpProtectionLines(const PreparedProtection& prepared) {
    if (!prepared.access || prepared.access->AllowList().IsEmpty())
        return {};
    return {"Built-in TFTP Server: downloads allowed from " +
            prepared.access->AllowList().Text().toUtf8()};
}

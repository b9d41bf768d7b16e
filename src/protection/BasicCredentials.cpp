#include "protection/BasicCredentials.h"

#include <QCryptographicHash>

#include <openssl/crypto.h>
#include <strings.h>
#include <cstring>

namespace {

std::array<unsigned char, 32> sha256(const QByteArray& bytes) {
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    std::array<unsigned char, 32> out{};
    std::memcpy(out.data(), digest.constData(), out.size());
    return out;
}

bool hasControl(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

}  // namespace

BasicCredentials::BasicCredentials(const QByteArray& user, const QByteArray& password)
    : user_(user), password_(password), set_(!user.isEmpty() || !password.isEmpty()) {
    digest_ = sha256(user + ':' + password);
}

BasicCredentials::Verdict BasicCredentials::Check(std::string_view authorization) const {
    size_t i = 0;
    while (i < authorization.size() && authorization[i] == ' ')
        ++i;
    if (i == authorization.size())
        return Verdict::Missing;
    const std::string_view scheme = authorization.substr(i, 6);
    if (scheme.size() < 6 || strncasecmp(scheme.data(), "basic ", 6) != 0)
        return Verdict::Wrong;
    std::string_view token = authorization.substr(i + 6);
    while (!token.empty() && token.front() == ' ')
        token.remove_prefix(1);
    while (!token.empty() && token.back() == ' ')
        token.remove_suffix(1);
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray(token.data(), qsizetype(token.size())), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return Verdict::Wrong;
    const std::array<unsigned char, 32> given = sha256(decoded.decoded);
    return CRYPTO_memcmp(given.data(), digest_.data(), given.size()) == 0 ? Verdict::Right
                                                                          : Verdict::Wrong;
}

QString BasicCredentials::Problem(const QString& user, const QString& password) {
    if (user.isEmpty() != password.isEmpty())
        return "LAuthError1";
    if (user.contains(':') || hasControl(user) || hasControl(password))
        return "LAuthError2";
    return {};
}

bool BasicCredentials::Split(const QString& text, QString* user, QString* password) {
    const qsizetype colon = text.indexOf(':');
    if (colon < 0)
        return false;
    *user = text.left(colon);
    *password = text.mid(colon + 1);
    return true;
}

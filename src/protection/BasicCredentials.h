#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <string_view>

// The user name and password the built-in HTTP server asks for (HTTP Basic authentication).
// The check compares digests in constant time, so neither the answer's timing nor its length
// tells how much of a guess was right.
class BasicCredentials {
  public:
    BasicCredentials() = default;
    // Both empty: no credentials asked for.
    BasicCredentials(const QByteArray& user, const QByteArray& password);

    bool IsSet() const { return set_; }
    const QByteArray& User() const { return user_; }
    const QByteArray& Password() const { return password_; }

    enum class Verdict { Missing, Wrong, Right };
    // The value of a request's Authorization header (empty when it has none): "Basic " and the
    // Base64 of "user:password", the scheme in any letter case.
    Verdict Check(std::string_view authorization) const;

    // The language key of what is wrong with a user name and password for the server, or an
    // empty text: "LAuthError1" when only one of them is given, "LAuthError2" for a colon in
    // the user name or a control character in either.
    static QString Problem(const QString& user, const QString& password);
    // "USER:PASSWORD" split at its first colon; false when there is no colon.
    static bool Split(const QString& text, QString* user, QString* password);

  private:
    QByteArray user_;
    QByteArray password_;
    bool set_ = false;
    std::array<unsigned char, 32> digest_{};  // SHA-256 of "user:password"
};

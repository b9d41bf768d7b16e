#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A PEM certificate (chain) and its private key, as files.
struct TlsFiles {
    QString certFile;
    QString keyFile;
};

enum class TlsKeyType {
    Ec,   // EC P-256
    Rsa,  // RSA 2048
};

// The days a self-signed certificate is valid: ten years from the day before it is made.
constexpr int kSelfSignedDays = 3650;

// Whether text may name the server in a certificate: an IPv4 or IPv6 address, a host name
// (IsHostName), or a host name after "*." (a wildcard).
bool IsCertificateName(const QString& text);

// Makes a self-signed certificate for the addresses (the first is its common name; an address
// becomes an IP entry of the subject alternative names, a host name a DNS entry; anything else
// is refused), valid kSelfSignedDays, for TLS servers only (not a CA), and writes it (PEM, mode
// 0644) and its key (PEM, mode 0600 from the start) atomically. With keepKey, a key already in
// keyFile that can be read is kept (so that a public-key pin stays valid) and set to mode 0600.
// False with the reason in *error (naming the file a write failed on).
bool MakeSelfSignedCertificate(const QStringList& addresses, TlsKeyType type, const TlsFiles& files,
                               QString* error, bool keepKey = false);

// The SHA-256 fingerprint of the first certificate of a PEM file as "AB:CD:...", the form of
// `openssl x509 -fingerprint -sha256`; empty, with the reason in *error, when there is none.
QByteArray CertificateFingerprint(const QString& certFile, QString* error = nullptr);

// "sha256//" + Base64 of the SHA-256 of the certificate's public key (curl's --pinnedpubkey
// form); empty when the file holds no certificate.
QByteArray PublicKeyPin(const QString& certFile);

// Whether the certificate names the address among its subject alternative names and stays
// valid for at least 30 more days.
bool CertificateServes(const QString& certFile, const QString& address);

// The self-signed pair the built-in server uses when no certificate is chosen: folder/server.crt
// and folder/server.key (folder made when missing). Kept while it serves address; otherwise made
// anew for address and the others, keeping the key. Either way the folder is set to mode 0700
// and the key to 0600. *made tells whether it was made. False with the reason in *error.
bool EnsureSelfSignedCertificate(const QString& folder, const QString& address,
                                 const QStringList& others, TlsFiles* files, bool* made,
                                 QString* error);

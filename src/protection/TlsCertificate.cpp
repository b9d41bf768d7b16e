#include "protection/TlsCertificate.h"

#include "app/AtomicFile.h"
#include "app/FileProblem.h"
#include "app/ServerUrl.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <tuple>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

// The reason OpenSSL gives for its last failure; the queue is emptied.
QString opensslReason(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(code);
    return reason ? QString::fromLatin1(reason) : QString(fallback);
}

// A key file is never asked a passphrase for: an encrypted key simply cannot be read.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

BioPtr openFile(const QString& path) {
    return BioPtr(BIO_new_file(QFile::encodeName(path).constData(), "rb"));
}

X509Ptr readCertificate(const QString& path) {
    BioPtr bio = openFile(path);
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
}

KeyPtr readKey(const QString& path) {
    BioPtr bio = openFile(path);
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr)
                      : nullptr);
}

QByteArray bioBytes(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, qsizetype(size));
}

bool isIpAddress(const QString& text) {
    unsigned char buffer[16];
    const QByteArray latin = text.toLatin1();
    return inet_pton(AF_INET, latin.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, latin.constData(), buffer) == 1;
}

// "IP:10.0.0.2,DNS:phones.example"; empty, with the reason, for an entry that is neither.
QByteArray altNames(const QStringList& addresses, QString* error) {
    QByteArray names;
    for (const QString& a : addresses) {
        if (!IsCertificateName(a)) {
            *error = "not an address or host name: " + a;
            return {};
        }
        names += (names.isEmpty() ? "" : ",") + QByteArray(isIpAddress(a) ? "IP:" : "DNS:") +
                 a.toLatin1();
    }
    return names;
}

// Makes the file or folder readable by its owner only; false with the reason.
bool makePrivate(const QString& path, mode_t mode, QString* error) {
    if (::chmod(QFile::encodeName(path).constData(), mode) == 0)
        return true;
    *error = path + ": cannot be made readable by its owner only: " + SystemErrorWords(errno);
    return false;
}

bool addExtension(X509* cert, X509V3_CTX* ctx, int nid, const QByteArray& value) {
    ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value.constData()));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

KeyPtr generateKey(TlsKeyType type) {
    return KeyPtr(type == TlsKeyType::Rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256"));
}

// The certificate, signed by key; null with the reason.
X509Ptr selfSigned(const QStringList& addresses, EVP_PKEY* key, QString* error) {
    const QByteArray names = altNames(addresses, error);
    if (names.isEmpty())
        return nullptr;
    X509Ptr cert(X509_new());
    BnPtr serial(BN_new());
    bool ok = cert && serial && X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
              BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400) &&
              X509_time_adj_ex(X509_getm_notAfter(cert.get()), kSelfSignedDays - 1, 0, nullptr) &&
              X509_set_pubkey(cert.get(), key) == 1;
    X509_NAME* name = ok ? X509_get_subject_name(cert.get()) : nullptr;
    const QByteArray commonName = addresses.first().toUtf8().left(64);
    ok = ok &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>("Orvo Provision Tool"),
                                    -1, -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(commonName.constData()),
                                    -1, -1, 0) == 1 &&
         X509_set_issuer_name(cert.get(), name) == 1;
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    if (ok)
        X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    const bool rsa = EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA;
    ok = ok && addExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(
             cert.get(), &ctx, NID_key_usage,
             rsa ? "critical,digitalSignature,keyEncipherment" : "critical,digitalSignature") &&
         addExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth") &&
         addExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") &&
         addExtension(cert.get(), &ctx, NID_subject_alt_name, names) &&
         X509_sign(cert.get(), key, EVP_sha256()) > 0;
    if (!ok) {
        *error = opensslReason("the certificate cannot be made");
        return nullptr;
    }
    return cert;
}

QByteArray hexWithColons(const unsigned char* bytes, unsigned length) {
    return QByteArray(reinterpret_cast<const char*>(bytes), int(length)).toHex(':').toUpper();
}

}  // namespace

bool MakeSelfSignedCertificate(const QStringList& addresses, TlsKeyType type, const TlsFiles& files,
                               QString* error, bool keepKey) {
    if (addresses.isEmpty()) {
        *error = "no address given";
        return false;
    }
    KeyPtr key = keepKey ? readKey(files.keyFile) : nullptr;
    ERR_clear_error();
    const bool newKey = !key;
    if (newKey)
        key = generateKey(type);
    if (!key) {
        *error = opensslReason("the key cannot be made");
        return false;
    }
    X509Ptr cert = selfSigned(addresses, key.get(), error);
    if (!cert)
        return false;
    BioPtr certOut(BIO_new(BIO_s_mem()));
    BioPtr keyOut(BIO_new(BIO_s_mem()));
    if (!certOut || !keyOut || PEM_write_bio_X509(certOut.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        *error = opensslReason("the certificate cannot be written");
        return false;
    }
    // A kept key is made private again: it may have been loosened since it was written.
    if (!newKey && !makePrivate(files.keyFile, 0600, error))
        return false;
    for (const auto& [file, bytes, mode] :
         {std::tuple{files.keyFile, newKey ? bioBytes(keyOut.get()) : QByteArray(), 0600},
          std::tuple{files.certFile, bioBytes(certOut.get()), 0644}}) {
        if (!bytes.isEmpty() && !WriteFileAtomically(file, bytes, mode_t(mode))) {
            *error = file + ": cannot be written: " + SystemErrorWords(errno);
            return false;
        }
    }
    return true;
}

bool IsCertificateName(const QString& text) {
    return isIpAddress(text) || IsHostName(text) ||
           (text.startsWith("*.") && IsHostName(text.mid(2)));
}

QByteArray CertificateFingerprint(const QString& certFile, QString* error) {
    X509Ptr cert = readCertificate(certFile);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1) {
        const QString reason = opensslReason("no certificate");
        if (error)
            *error = reason;
        return {};
    }
    return hexWithColons(digest, length);
}

QByteArray PublicKeyPin(const QString& certFile) {
    // The digest of the whole SubjectPublicKeyInfo, as curl and browsers pin it.
    X509Ptr cert = readCertificate(certFile);
    unsigned char* der = nullptr;
    const int length = cert ? i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der) : -1;
    ERR_clear_error();
    if (length <= 0)
        return {};
    const QByteArray info(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return "sha256//" + QCryptographicHash::hash(info, QCryptographicHash::Sha256).toBase64();
}

bool CertificateServes(const QString& certFile, const QString& address) {
    X509Ptr cert = readCertificate(certFile);
    ERR_clear_error();
    if (!cert)
        return false;
    const QByteArray text = address.toUtf8();
    const bool named =
        isIpAddress(address)
            ? X509_check_ip_asc(cert.get(), text.constData(), 0) == 1
            : X509_check_host(cert.get(), text.constData(), size_t(text.size()), 0, nullptr) == 1;
    const std::time_t soon = std::time(nullptr) + 30 * 86400;
    return named && X509_cmp_current_time(X509_get0_notBefore(cert.get())) < 0 &&
           ASN1_TIME_cmp_time_t(X509_get0_notAfter(cert.get()), soon) > 0;
}

bool EnsureSelfSignedCertificate(const QString& folder, const QString& address,
                                 const QStringList& others, TlsFiles* files, bool* made,
                                 QString* error) {
    files->certFile = folder + "/server.crt";
    files->keyFile = folder + "/server.key";
    *made = false;
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        *error = "cannot make the folder " + folder;
        return false;
    }
    // The folder and the key are made private whether the pair is kept or made again.
    if (!makePrivate(folder, 0700, error))
        return false;
    if (CertificateServes(files->certFile, address)) {
        X509Ptr cert = readCertificate(files->certFile);
        KeyPtr key = readKey(files->keyFile);
        const bool matches = cert && key && X509_check_private_key(cert.get(), key.get()) == 1;
        ERR_clear_error();
        if (matches)
            return makePrivate(files->keyFile, 0600, error);
    }
    QStringList addresses{address};
    for (const QString& other : others)
        if (!other.isEmpty() && !addresses.contains(other))
            addresses << other;
    if (!MakeSelfSignedCertificate(addresses, TlsKeyType::Ec, *files, error, true))
        return false;
    *made = true;
    return true;
}

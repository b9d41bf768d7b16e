// The self-signed certificates and the TLS server settings, checked with the openssl program.
#include "protection/TlsCertificate.h"
#include "protection/TlsServerContext.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {

QString Openssl(const QStringList& args, int* code = nullptr) {
    QByteArray out, err;
    const int c = RunProgram("openssl", args, &out, &err);
    if (code)
        *code = c;
    return QString::fromUtf8(out + err);
}

int Mode(const QString& path) {
    struct stat s {};
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? int(s.st_mode & 07777) : -1;
}

// The "sha256//..." pin of a certificate's public key, worked out by openssl.
QByteArray OpensslPin(const QString& cert) {
    QByteArray out;
    RunProgram("sh",
               {"-c",
                "openssl x509 -in \"$0\" -pubkey -noout | openssl pkey -pubin -outform der | "
                "openssl dgst -sha256 -binary | base64",
                cert},
               &out);
    return "sha256//" + out.trimmed();
}

}  // namespace

TEST(TlsCertificate, MakesSelfSignedPairsThatOpensslReadsAsMade) {
    const struct {
        TlsKeyType type;
        QString keyText;
        QString usage;
    } cases[] = {
        {TlsKeyType::Ec, "NIST CURVE: P-256", "Digital Signature"},
        {TlsKeyType::Rsa, "Public-Key: (2048 bit)", "Digital Signature, Key Encipherment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyText.toStdString());
        TempDir dir;
        const TlsFiles files{dir.file("server.crt"), dir.file("server.key")};
        QString error;
        ASSERT_TRUE(MakeSelfSignedCertificate({"192.168.1.2", "10.0.0.2", "phones.example"}, c.type,
                                              files, &error))
            << error.toStdString();
        EXPECT_EQ(Mode(files.keyFile), 0600);
        EXPECT_EQ(Mode(files.certFile), 0644);
        const QString text = Openssl({"x509", "-in", files.certFile, "-noout", "-text"});
        EXPECT_TRUE(text.contains(c.keyText)) << text.toStdString();
        EXPECT_TRUE(text.contains("Subject: O = Orvo Provision Tool, CN = 192.168.1.2"));
        EXPECT_TRUE(text.contains("Issuer: O = Orvo Provision Tool, CN = 192.168.1.2"));
        EXPECT_TRUE(
            text.contains("IP Address:192.168.1.2, IP Address:10.0.0.2, DNS:phones.example"));
        EXPECT_TRUE(text.contains("CA:FALSE"));
        EXPECT_TRUE(text.contains("X509v3 Key Usage: critical\n                " + c.usage + "\n"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("TLS Web Server Authentication"));
        EXPECT_TRUE(text.contains(
            "Signature Algorithm: " +
            QString(c.type == TlsKeyType::Ec ? "ecdsa-with-SHA256" : "sha256WithRSAEncryption")));
        // Valid from yesterday for ten years.
        const QString end = Openssl({"x509", "-in", files.certFile, "-noout", "-enddate"});
        const QDateTime notAfter = QDateTime::fromString(
            end.section('=', 1).simplified().replace(" GMT", ""), "MMM d HH:mm:ss yyyy");
        ASSERT_TRUE(notAfter.isValid()) << end.toStdString();
        EXPECT_NEAR(QDateTime::currentDateTime().daysTo(notAfter), kSelfSignedDays - 1, 1);
        // The key is the certificate's, and the certificate its own trust anchor.
        int code = -1;
        Openssl({"x509", "-in", files.certFile, "-noout", "-checkend", "86400"}, &code);
        EXPECT_EQ(code, 0);
        const QString verified = Openssl({"verify", "-CAfile", files.certFile, "-purpose",
                                          "sslserver", "-verify_ip", "10.0.0.2", files.certFile},
                                         &code);
        EXPECT_EQ(code, 0) << verified.toStdString();
        EXPECT_EQ(Openssl({"pkey", "-in", files.keyFile, "-pubout"}),
                  Openssl({"x509", "-in", files.certFile, "-noout", "-pubkey"}));

        // The fingerprint and the pin as openssl gives them.
        const QString fingerprint =
            Openssl({"x509", "-in", files.certFile, "-noout", "-fingerprint", "-sha256"});
        EXPECT_EQ("sha256 Fingerprint=" + CertificateFingerprint(files.certFile) + "\n",
                  fingerprint);
        EXPECT_EQ(PublicKeyPin(files.certFile), OpensslPin(files.certFile));
        EXPECT_TRUE(CertificateServes(files.certFile, "10.0.0.2"));
        EXPECT_TRUE(CertificateServes(files.certFile, "phones.example"));
        EXPECT_FALSE(CertificateServes(files.certFile, "10.0.0.3"));
    }
}

TEST(TlsCertificate, RefusesWhatItCannotMakeAndNamesWhy) {
    TempDir dir;
    QString error;
    EXPECT_FALSE(MakeSelfSignedCertificate({}, TlsKeyType::Ec,
                                           {dir.file("a.crt"), dir.file("a.key")}, &error));
    EXPECT_EQ(error, "no address given");
    // Neither an address nor a valid host name: never written as a DNS name.
    for (const QString& bad :
         {QString("a b,IP:1.2.3.4"), QString("300.1.1.1"), QString("10.0.0"), QString("-x.example"),
          QString("a..b"), QString("*"), QString("x.*.example")}) {
        EXPECT_FALSE(MakeSelfSignedCertificate({"10.0.0.2", bad}, TlsKeyType::Ec,
                                               {dir.file("a.crt"), dir.file("a.key")}, &error));
        EXPECT_EQ(error, "not an address or host name: " + bad);
        EXPECT_FALSE(IsCertificateName(bad)) << bad.toStdString();
    }
    for (const char* good : {"10.0.0.2", "fd00::2", "phones.example", "*.phones.example"})
        EXPECT_TRUE(IsCertificateName(good)) << good;
    EXPECT_FALSE(QFileInfo::exists(dir.file("a.key")));
    // A file that cannot be written is named with the reason.
    EXPECT_FALSE(MakeSelfSignedCertificate(
        {"10.0.0.2"}, TlsKeyType::Ec, {dir.file("none/a.crt"), dir.file("none/a.key")}, &error));
    EXPECT_EQ(error, dir.file("none/a.key") + ": cannot be written: no such file or directory");
    EXPECT_TRUE(CertificateFingerprint(dir.file("none.crt"), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    dir.write("text.crt", "not a certificate");
    EXPECT_TRUE(CertificateFingerprint(dir.file("text.crt")).isEmpty());
    EXPECT_TRUE(PublicKeyPin(dir.file("text.crt")).isEmpty());
    EXPECT_FALSE(CertificateServes(dir.file("text.crt"), "10.0.0.2"));
}

// The pair of the window is kept while it serves the address and made anew, with the same key,
// when the address changes or the files are damaged.
TEST(TlsCertificate, TheSelfSignedPairIsKeptOrMadeAgainWithItsKey) {
    TempDir dir;
    const QString folder = dir.file("ini/tls");
    TlsFiles files;
    bool made = false;
    QString error;
    ASSERT_TRUE(EnsureSelfSignedCertificate(folder, "10.0.0.2", {"10.0.0.2", "192.168.5.5"}, &files,
                                            &made, &error))
        << error.toStdString();
    EXPECT_TRUE(made);
    EXPECT_EQ(files.certFile, folder + "/server.crt");
    EXPECT_EQ(files.keyFile, folder + "/server.key");
    EXPECT_EQ(Mode(folder), 0700);
    EXPECT_EQ(Mode(files.keyFile), 0600);
    const QByteArray fingerprint = CertificateFingerprint(files.certFile);
    const QByteArray pin = PublicKeyPin(files.certFile);
    const QByteArray key = ReadFileBytes(files.keyFile);

    // The other address is in it too: nothing made.
    ASSERT_TRUE(EnsureSelfSignedCertificate(folder, "192.168.5.5", {}, &files, &made, &error));
    EXPECT_FALSE(made);
    EXPECT_EQ(CertificateFingerprint(files.certFile), fingerprint);

    // A new address: a new certificate for the same key.
    ASSERT_TRUE(EnsureSelfSignedCertificate(folder, "172.16.0.9", {}, &files, &made, &error));
    EXPECT_TRUE(made);
    EXPECT_NE(CertificateFingerprint(files.certFile), fingerprint);
    EXPECT_EQ(PublicKeyPin(files.certFile), pin);
    EXPECT_EQ(ReadFileBytes(files.keyFile), key);
    EXPECT_TRUE(CertificateServes(files.certFile, "172.16.0.9"));

    // Loosened modes are made private again, whether the pair is made again or kept.
    for (const char* address : {"172.16.0.10", "172.16.0.10"}) {
        SCOPED_TRACE(address);
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        ::chmod(QFile::encodeName(files.keyFile).constData(), 0644);
        ASSERT_TRUE(EnsureSelfSignedCertificate(folder, address, {}, &files, &made, &error))
            << error.toStdString();
        EXPECT_EQ(Mode(folder), 0700);
        EXPECT_EQ(Mode(files.keyFile), 0600);
        EXPECT_EQ(PublicKeyPin(files.certFile), pin);
    }
    EXPECT_FALSE(made);  // the second time the pair was kept

    // A key that is not the certificate's: made again with a key that is.
    TempDir other;
    TlsFiles foreign{other.file("c"), other.file("k")};
    ASSERT_TRUE(MakeSelfSignedCertificate({"1.1.1.1"}, TlsKeyType::Ec, foreign, &error));
    QFile::remove(files.keyFile);
    QFile::copy(foreign.keyFile, files.keyFile);
    ASSERT_TRUE(EnsureSelfSignedCertificate(folder, "172.16.0.9", {}, &files, &made, &error));
    EXPECT_TRUE(made);
    EXPECT_EQ(PublicKeyPin(files.certFile), PublicKeyPin(foreign.certFile));
}

TEST(TlsServerContext, TakesAPairAndRefusesWhatTheServerCannotUse) {
    TempDir dir;
    QString error;
    const TlsFiles good{dir.file("good.crt"), dir.file("good.key")};
    const TlsFiles other{dir.file("other.crt"), dir.file("other.key")};
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, good, &error));
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Rsa, other, &error));
    EXPECT_NE(MakeTlsServerContext(good.certFile, good.keyFile), nullptr);
    EXPECT_NE(MakeTlsServerContext(other.certFile, other.keyFile), nullptr);

    // An encrypted key is refused at once: no passphrase is asked for on any terminal.
    int code = -1;
    Openssl({"pkey", "-in", good.keyFile, "-aes256", "-passout", "pass:secret", "-out",
             dir.file("encrypted.key")},
            &code);
    ASSERT_EQ(code, 0);
    dir.write("text.pem", "not PEM at all\n");
    const struct {
        QString cert, key, what;
    } refused[] = {
        {good.certFile, other.keyFile, "other.key: the key does not belong to the certificate"},
        {good.certFile, dir.file("encrypted.key"), "encrypted.key: holds no usable PEM key ("},
        {dir.file("none.crt"), good.keyFile, "none.crt: no such file"},
        {good.certFile, dir.file("none.key"), "none.key: no such file"},
        {dir.path(), good.keyFile, dir.path() + ": is a folder, not a file"},
        {"/dev/null", good.keyFile, "/dev/null: is not a regular file"},
        {dir.file("text.pem"), good.keyFile,
         "text.pem: holds no usable PEM certificate (no start line)"},
        {good.keyFile, good.keyFile, "good.key: holds no usable PEM certificate (no start line)"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE((r.cert + " " + r.key).toStdString());
        try {
            MakeTlsServerContext(r.cert, r.key);
            ADD_FAILURE() << "taken";
        } catch (const TlsSetupError& e) {
            EXPECT_TRUE(QString(e.what()).contains(r.what)) << e.what();
        }
    }
}

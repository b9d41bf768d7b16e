// orvo-cli cert: the self-signed certificate and key for the built-in server's HTTPS.
#include "cli/Cli.h"

#include "protection/TlsCertificate.h"

#include <QFileInfo>

namespace {

int cert(const CliArgs& args) {
    const QStringList addresses = args.value("address").split(',', Qt::SkipEmptyParts);
    const QString out = args.value("out");
    const QString type = args.value("type", "ec");
    if (type != "ec" && type != "rsa")
        return CliUsageError("cert", "--type must be ec or rsa");
    if (addresses.isEmpty())
        return CliUsageError("cert", "--address names no address");
    for (const QString& address : addresses)
        if (!IsCertificateName(address))
            return CliUsageError("cert", "--address: " + address +
                                             " is neither an IPv4 or IPv6 address nor a host name");
    if (!QFileInfo(out).isDir())
        return CliFail(out, "is not a folder");
    const TlsFiles files{out + "/server.crt", out + "/server.key"};
    for (const QString& file : {files.certFile, files.keyFile})
        if (QFileInfo::exists(file) && !args.has("overwrite"))
            return CliFail(file, "exists (--overwrite replaces it)");
    QString error;
    if (!MakeSelfSignedCertificate(addresses, type == "rsa" ? TlsKeyType::Rsa : TlsKeyType::Ec,
                                   files, &error))
        return CliFail("cert", error);
    CliPrint("certificate: " + files.certFile);
    CliPrint("key: " + files.keyFile);
    CliPrint("SHA-256 fingerprint: " + CertificateFingerprint(files.certFile));
    CliPrint("public key pin: " + PublicKeyPin(files.certFile));
    return 0;
}

const CliRegistration certCommand(
    "cert",
    {"Make a self-signed certificate and its key for orvo-cli serve --tls-cert/--tls-key, as "
     "the window makes for its HTTPS server: DIR/server.crt and DIR/server.key (readable by "
     "its owner only), valid for ten years; prints both, the certificate's SHA-256 fingerprint "
     "and the public key pin.",
     {{"address", "ADDR[,ADDR...]",
       "the server's addresses or host names (subject alternative names; the first is the "
       "common name)",
       true},
      {"out", "DIR", "the existing folder the two files are written to", true},
      {"type", "ec|rsa", "the key: EC P-256 (the default) or RSA 2048"},
      {"overwrite", {}, "replace the files when they exist"}},
     {},
     cert});

}  // namespace

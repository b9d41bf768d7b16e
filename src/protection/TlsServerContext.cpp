#include "protection/TlsServerContext.h"

#include "app/FileProblem.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>

namespace ssl = boost::asio::ssl;

namespace {

const char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// The file and what is wrong with it: that it cannot be read, or why OpenSSL cannot use what
// it holds.
[[noreturn]] void refuse(const QString& file, const char* what,
                         const boost::system::error_code& ec) {
    QString problem = FileReadProblem(file);
    if (problem.isEmpty()) {
        const char* reason = ec.category() == boost::asio::error::get_ssl_category()
                                 ? ERR_reason_error_string(static_cast<unsigned long>(ec.value()))
                                 : nullptr;
        problem = QString("holds no usable PEM ") + what + " (" +
                  (reason ? reason : ec.message().c_str()) + ")";
    }
    throw TlsSetupError((file + ": " + problem).toStdString());
}

}  // namespace

std::shared_ptr<ssl::context> MakeTlsServerContext(const QString& certFile,
                                                   const QString& keyFile) {
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    SSL_CTX* native = context->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    // TLS 1.2: forward secrecy (ECDHE) and authenticated encryption (AES-GCM, ChaCha20-Poly1305)
    // only; no CBC suites with their SHA-1/SHA-2 MAC, no static RSA key exchange. TLS 1.3 keeps
    // OpenSSL's defaults (all of them AEAD with forward secrecy).
    if (SSL_CTX_set_cipher_list(native, kTls12Ciphers) != 1)
        throw TlsSetupError("the TLS 1.2 cipher suites are not available");
    context->set_options(ssl::context::default_workarounds | ssl::context::no_compression |
                         ssl::context::single_dh_use);
    // A phone fetches a file or two per start: no sessions are kept for resumption, so no
    // ticket is made and sent after each handshake and no session key outlives a connection.
    SSL_CTX_set_options(native, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(native, 0);
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
    context->set_password_callback(
        [](std::size_t, ssl::context::password_purpose) { return std::string(); });
    boost::system::error_code ec;
    context->use_certificate_chain_file(QFile::encodeName(certFile).toStdString(), ec);
    if (ec)
        refuse(certFile, "certificate", ec);
    context->use_private_key_file(QFile::encodeName(keyFile).toStdString(), ssl::context::pem, ec);
    if (ec)
        refuse(keyFile, "key", ec);
    if (SSL_CTX_check_private_key(native) != 1)
        throw TlsSetupError(QFile::encodeName(keyFile).toStdString() +
                            ": the key does not belong to the certificate");
    return context;
}

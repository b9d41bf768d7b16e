#pragma once

#include <QString>
#include <memory>
#include <stdexcept>
#include <string>

namespace boost::asio::ssl {
class context;
}

// A certificate or key the TLS server cannot use; what() names the file and OpenSSL's reason.
class TlsSetupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The TLS settings of the built-in HTTPS server: TLS 1.2 and 1.3 only; TLS 1.2 with ECDHE and
// AES-GCM or ChaCha20-Poly1305 only, TLS 1.3 with OpenSSL's defaults; no session resumption, the
// PEM certificate chain and its key (an encrypted key is refused, never asked a passphrase for).
// Throws TlsSetupError.
std::shared_ptr<boost::asio::ssl::context> MakeTlsServerContext(const QString& certFile,
                                                                const QString& keyFile);

#include "servers/TlsSession.h"

#include "servers/ServerRuntime.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

const char kPeerClosed[] = "the client closed the connection";

std::string reasonText(unsigned long code) {
    const char* text = ERR_reason_error_string(code);
    return text ? text : "TLS error";
}

}  // namespace

TlsSession::TlsSession(SSL_CTX* context, int fd) : ssl_(SSL_new(context)) {
    if (!ssl_)
        return;
    SSL_set_fd(ssl_, fd);
    SSL_set_accept_state(ssl_);
    // Idle connections hold no buffers; a write retried after WantWrite may come from
    // another address.
    SSL_set_mode(ssl_, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TlsSession::~TlsSession() {
    if (ssl_)
        SSL_free(ssl_);  // the socket stays open: its owner closes it
}

TlsSession::Result TlsSession::Handshake() {
    if (!ssl_) {
        reason_ = "no TLS session";
        return Result::Failed;
    }
    ERR_clear_error();
    return result(SSL_do_handshake(ssl_));
}

TlsSession::Result TlsSession::Read(char* out, size_t size, size_t* got) {
    ERR_clear_error();
    const int n = SSL_read(ssl_, out, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    *got = n > 0 ? static_cast<size_t>(n) : 0;
    return result(n);
}

TlsSession::Result TlsSession::Write(const char* data, size_t size) {
    ERR_clear_error();
    return result(SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX))));
}

TlsSession::Result TlsSession::Shutdown() {
    ERR_clear_error();
    const int returned = SSL_shutdown(ssl_);
    // 0: sent, the peer's not yet received; it is not waited for.
    return returned == 0 ? Result::Done : result(returned);
}

uint64_t TlsSession::Written() const {
    return BIO_number_written(SSL_get_wbio(ssl_));
}

TlsSession::Result TlsSession::result(int returned) {
    const int systemError = errno;
    const int error = SSL_get_error(ssl_, returned);
    const unsigned long code = ERR_get_error();  // the first in the queue
    ERR_clear_error();
    switch (error) {
        case SSL_ERROR_NONE:
            return Result::Done;
        case SSL_ERROR_WANT_READ:
            return Result::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Result::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            reason_ = kPeerClosed;
            return Result::Closed;
        case SSL_ERROR_SYSCALL:
            if (code == 0 && (returned == 0 || systemError == 0)) {
                reason_ = kPeerClosed;  // the end of the stream
                return Result::Closed;
            }
            reason_ = code ? reasonText(code) : ErrnoText(systemError);
            return Result::Failed;
        default:
            break;
    }
    if (ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        reason_ = kPeerClosed;
        return Result::Closed;
    }
    plainHttp_ = ERR_GET_REASON(code) == SSL_R_HTTP_REQUEST;
    reason_ = reasonText(code);
    return Result::Failed;
}

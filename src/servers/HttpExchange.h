#pragma once

#include "servers/ServerRuntime.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <sys/socket.h>
#include <chrono>
#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

// What every connection of one run of the HTTP server reads; lives from Start to Stop.
struct HttpRun : ServerRun {
    HttpRun(const ServerSettings& settings, const QStringList& alsoWithheld,
            std::chrono::milliseconds read, std::chrono::milliseconds write, SSL_CTX* tls)
        : ServerRun(settings, alsoWithheld), readTimeout(read), writeTimeout(write), tls(tls) {}

    std::chrono::milliseconds readTimeout;
    std::chrono::milliseconds writeTimeout;
    SSL_CTX* tls;  // HTTPS when set
};

// One request's answer, for a connection of either kind: the request read by its parser, the
// head, then a short body or the file from offset_ to end_, and what the fetch observer gets
// when the connection ends. The transport knows nothing of who may fetch what: the exchange
// asks the access rules.
class HttpExchange {
  protected:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;

    HttpExchange(HttpRun& run, const sockaddr_storage& peer);
    ~HttpExchange();

    // Answers the request the parser read (or a refusal of it). With heldLines, its log lines
    // are added there, to be written with the others of the worker's turn.
    void respond(QByteArray* heldLines);
    // Answers a request that could not be read with 400.
    void badRequest();
    // The client has acknowledged this many bytes of the answer (head first, then body): sets
    // the body bytes it took and whether the whole body reached it.
    void delivered(uint64_t acknowledged);
    // Hands the answered request to the fetch observer, once, stamped with the time it ended.
    void report();
    QByteArray peerText() const;

    HttpRun& run_;
    sockaddr_storage peer_;
    boost::beast::http::request_parser<boost::beast::http::string_body> parser_;
    std::string head_;
    std::string body_;
    int fileFd_ = -1;
    off_t offset_ = 0;
    off_t end_ = 0;
    // What the fetch observer gets when the connection ends.
    FetchEvent fetch_;
    // The answer formed: its head's and body's bytes; a HEAD's answer delivers no body.
    qint64 headBytes_ = 0;
    qint64 bodyBytes_ = 0;
    bool headOnly_ = false;

  private:
    void answer(const Request& request);
    // A client the access rules refuse gets 403, 429 or 401 (logged); false when it is served.
    bool refused(const Request& request, const QByteArray& file);
    // Answers with status and its status line as the body (none for a HEAD).
    void shortAnswer(int status, const char* statusLine, const char* extra = "");
    // Reads the opened file (end_ bytes) into body_ and closes it; false with *error on failure.
    bool readWhole(int* error);
    void failed(const std::string& text);
    // Notes the sizes of the answer formed.
    void noteAnswer();
    void log(const QByteArray& message) const { run_.Log(message, heldLines_); }

    QByteArray* heldLines_ = nullptr;  // while respond runs
};

// The log lines' subjects of the HTTP server.
extern const char kHttpLogSubject[];
extern const char kHttpRefusalSubject[];

#include "servers/HttpExchange.h"

#include "app/MyLog.h"
#include "protection/ServerAccess.h"
#include "servers/HttpResponseHead.h"
#include "servers/MimeTypes.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include <netinet/in.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace http = boost::beast::http;

const char kHttpLogSubject[] = "BUILT-IN HTTP SERVER responses to ";
const char kHttpRefusalSubject[] = "BUILT-IN HTTP SERVER refuses ";

namespace {

constexpr unsigned kHeaderLimit = 8 * 1024;
constexpr unsigned kBodyLimit = 1024 * 1024;
// Files up to this size are read and sent with the head in one call (a configuration file);
// larger ones go from disk to the socket piece by piece.
constexpr off_t kReadWhole = 32 * 1024;

// The parts one after the other, in one allocation.
template <typename... Parts>
QByteArray joined(const Parts&... parts) {
    const QByteArrayView views[] = {QByteArrayView(parts)...};
    qsizetype size = 0;
    for (const QByteArrayView view : views)
        size += view.size();
    QByteArray out;
    out.reserve(size);
    for (const QByteArrayView view : views)
        out.append(view);
    return out;
}

// The method as the record names it: a literal that lives for good ("" for one unknown).
const char* methodName(http::verb method) {
    switch (method) {
        case http::verb::get:
            return "GET";
        case http::verb::head:
            return "HEAD";
        case http::verb::post:
            return "POST";
        case http::verb::unknown:
            return "";
        default:
            return http::to_string(method).data();  // Beast's own literals
    }
}

}  // namespace

HttpExchange::HttpExchange(HttpRun& run, const sockaddr_storage& peer) : run_(run), peer_(peer) {
    ++run_.active;
    if (run_.tls)
        fetch_.protocol = "https";
    parser_.header_limit(kHeaderLimit);
    parser_.body_limit(kBodyLimit);
    parser_.eager(true);
}

HttpExchange::~HttpExchange() {
    report();
    if (fileFd_ >= 0)
        ::close(fileFd_);
    --run_.active;
}

void HttpExchange::respond(QByteArray* heldLines) {
    heldLines_ = heldLines;
    const Request& request = parser_.get();
    if (run_.fetchObserver) {
        const auto agent = request[http::field::user_agent];
        fetch_.userAgent = QByteArray(agent.data(), qsizetype(agent.size()));
    }
    try {
        answer(request);
    } catch (const std::exception& e) {
        failed(e.what());
    }
    noteAnswer();
    heldLines_ = nullptr;
}

void HttpExchange::badRequest() {
    fetch_.status = 400;
    fetch_.method = "";  // not read
    head_ = HttpResponseHead("400 Bad Request", "text/plain", 0);
    noteAnswer();
}

void HttpExchange::noteAnswer() {
    headBytes_ = qint64(head_.size());
    bodyBytes_ = qint64(body_.size()) + (end_ - offset_);
}

void HttpExchange::delivered(uint64_t acknowledged) {
    const qint64 answer = headBytes_ + bodyBytes_;
    const qint64 acked = qint64(std::min<uint64_t>(acknowledged, uint64_t(answer)));
    fetch_.bytes = std::clamp<qint64>(acked - headBytes_, 0, bodyBytes_);
    fetch_.complete = !headOnly_ && acked == answer;
}

QByteArray HttpExchange::peerText() const {
    // A client usually asks for several files in a row: the last address's text is kept.
    thread_local std::array<unsigned char, 16> lastAddress{};
    thread_local sa_family_t lastFamily = AF_UNSPEC;
    thread_local QByteArray lastText;
    const bool v6 = peer_.ss_family == AF_INET6;
    const void* address =
        v6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(peer_).sin6_addr)
           : &reinterpret_cast<const sockaddr_in&>(peer_).sin_addr;
    const size_t length = v6 ? 16 : 4;
    if (peer_.ss_family != lastFamily || std::memcmp(address, lastAddress.data(), length) != 0) {
        lastText = AddressText(peer_);
        lastFamily = peer_.ss_family;
        std::memcpy(lastAddress.data(), address, length);
    }
    return lastText;
}

void HttpExchange::failed(const std::string& text) {
    if (fileFd_ >= 0)
        ::close(fileFd_);
    fileFd_ = -1;
    offset_ = end_ = 0;
    body_ = text;
    head_ = HttpResponseHead("500 Internal Server Error", "text/plain", body_.size());
    fetch_.status = 500;
}

void HttpExchange::answer(const Request& request) {
    const http::verb method = request.method();
    fetch_.method = methodName(method);
    headOnly_ = method == http::verb::head;
    const auto target = request.target();
    const std::string path = RequestPath(std::string_view(target.data(), target.size()));
    fetch_.path = QByteArray(path.data(), qsizetype(path.size()));
    while (fetch_.path.startsWith('/'))
        fetch_.path.remove(0, 1);
    if (run_.access && refused(request, run_.rootBytes + LogSafeText(QByteArray(
                                                             path.data(), qsizetype(path.size())))))
        return;
    if (method != http::verb::get && method != http::verb::post && method != http::verb::head) {
        shortAnswer(405, "405 Method Not Allowed", "Allow: GET, POST, HEAD\r\n");
        return;
    }
    const bool headOnly = headOnly_;
    if (path.empty()) {  // not a path from the root
        fetch_.status = 400;
        head_ = HttpResponseHead("400 Bad Request", "text/plain", 0);
        return;
    }
    fetch_.peer = peerText();
    const QByteArray file =
        joined(run_.rootBytes, LogSafeText(QByteArray(path.data(), qsizetype(path.size()))));
    const auto logFailure = [&](int error) {
        const std::string text = ErrnoText(error);
        log(joined(kHttpLogSubject, fetch_.peer, " with 500. File ", file, ": ", text));
        failed(text);
    };

    int error = 0;
    OpenedFile opened;
    const int fd = run_.documentRoot.Open(path, &error, &opened);
    off_t size = opened.size;
    if (fd < 0 && (error == DocumentRoot::kHiddenName || error == DocumentRoot::kWithheldFile)) {
        log(joined(kHttpRefusalSubject, fetch_.peer, " with 403. File ", file, ": ",
                   DocumentRoot::RefusalReason(error)));
        shortAnswer(403, "403 Forbidden");
        return;
    }
    if (fd < 0 && error == ENOENT) {
        log(joined(kHttpLogSubject, fetch_.peer, " with 404. File ", file, " NOT exist!"));
        shortAnswer(404, "404 Not Found");
        return;
    }
    if (fd < 0) {
        logFailure(error);
        if (headOnly)
            body_.clear();
        return;
    }
    fileFd_ = fd;
    fetch_.fileSize = size;
    fetch_.fileInode = opened.inode;
    fetch_.fileMtimeNs = opened.mtimeNs;
    offset_ = 0;
    end_ = headOnly ? 0 : size;
    if (!headOnly && size <= kReadWhole && !readWhole(&error)) {
        logFailure(error);
        return;
    }
    if (!headOnly && end_ == 0)
        size = static_cast<off_t>(body_.size());  // read whole: what was read is announced
    log(joined(kHttpLogSubject, fetch_.peer, " with File ", file));
    fetch_.status = 200;
    head_ =
        HttpResponseHead("200 OK", MimeTypeForFile(path), static_cast<unsigned long long>(size));
}

bool HttpExchange::readWhole(int* error) {
    body_.resize(static_cast<size_t>(end_));
    size_t got = 0;
    while (got < body_.size()) {
        const ssize_t n = ::pread(fileFd_, body_.data() + got, body_.size() - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = errno;
            return false;
        }
        if (n == 0)
            break;  // shrunk since it was opened
        got += static_cast<size_t>(n);
    }
    body_.resize(got);
    ::close(fileFd_);
    fileFd_ = -1;
    end_ = 0;
    return true;
}

void HttpExchange::report() {
    if (fetch_.status == 0 || !run_.fetchObserver)
        return;
    fetch_.time = std::time(nullptr);
    if (fetch_.peer.isEmpty())
        fetch_.peer = peerText();
    run_.fetchObserver(fetch_);
    fetch_.status = 0;
}

bool HttpExchange::refused(const Request& request, const QByteArray& file) {
    fetch_.peer = peerText();
    const auto authorization = request[http::field::authorization];
    const ServerAccess::Refusal refusal =
        run_.access->Check(reinterpret_cast<const sockaddr*>(&peer_), fetch_.peer,
                           std::string_view(authorization.data(), authorization.size()));
    if (refusal.status == 0)
        return false;
    if (refusal.logged)
        log(kHttpRefusalSubject + fetch_.peer + " with " + QByteArray::number(refusal.status) +
            ". File " + file + ": " + refusal.reason);
    const char* status = "403 Forbidden";
    const char* extra = "";
    if (refusal.status == 401) {
        status = "401 Unauthorized";
        extra = "WWW-Authenticate: Basic realm=\"Orvo Provision Tool\", charset=\"UTF-8\"\r\n";
    } else if (refusal.status == 429) {
        status = "429 Too Many Requests";
        extra = "Retry-After: 60\r\n";
    }
    shortAnswer(refusal.status, status, extra);
    return true;
}

void HttpExchange::shortAnswer(int status, const char* statusLine, const char* extra) {
    fetch_.status = status;
    const std::string text = std::string(statusLine) + "\r\n";
    if (!headOnly_)
        body_ = text;
    head_ = HttpResponseHead(statusLine, "text/plain", text.size(), extra);
}

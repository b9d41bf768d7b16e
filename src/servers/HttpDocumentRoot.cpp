#include "servers/HttpDocumentRoot.h"

#include "app/Numbers.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Any ".." segment, and any NUL byte (no file name holds one), refuses the path.
bool leavesRoot(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// O_NONBLOCK keeps a FIFO from blocking the open; it does nothing for regular files.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Errors that mean "no such file below the root".
bool isMissing(int error) {
    return error == ENOENT || error == ENOTDIR || error == EXDEV || error == ELOOP ||
           error == ENAMETOOLONG || error == EISDIR || error == ENXIO;
}

// Keeps fd when it is a regular file; otherwise closes it and reports ENOENT.
int regularOnly(int fd, int* error, off_t* size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = ENOENT;
        return -1;
    }
    if (size)
        *size = st.st_size;
    return fd;
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool kernelHasOpenat2() {
    static const bool has = [] {
        open_how how{};
        how.flags = O_RDONLY | O_CLOEXEC | O_DIRECTORY;
        const long fd = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
        if (fd >= 0)
            ::close(static_cast<int>(fd));
        return fd >= 0 || errno != ENOSYS;
    }();
    return has;
}

}  // namespace

std::string RequestPath(std::string_view target) {
    const size_t scheme = target.find("://");
    if (scheme != std::string_view::npos && target.find('/') > scheme) {
        const size_t pathStart = target.find('/', scheme + 3);
        target =
            pathStart == std::string_view::npos ? std::string_view() : target.substr(pathStart);
    }
    const size_t query = target.find('?');
    if (query != std::string_view::npos)
        target = target.substr(0, query);
    std::string out;
    out.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() && HexDigitValue(target[i + 1]) >= 0 &&
            HexDigitValue(target[i + 2]) >= 0) {
            out +=
                static_cast<char>(HexDigitValue(target[i + 1]) * 16 + HexDigitValue(target[i + 2]));
            i += 2;
        } else {
            out += target[i];
        }
    }
    return out;
}

HttpDocumentRoot::HttpDocumentRoot(std::string path, Mode mode)
    : path_(std::move(path)), mode_(mode) {
    if (mode_ == Mode::Auto)
        mode_ = kernelHasOpenat2() ? Mode::Beneath : Mode::PathCheck;
    if (mode_ == Mode::Beneath)
        rootFd_ = ::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

HttpDocumentRoot::~HttpDocumentRoot() {
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

int HttpDocumentRoot::Open(std::string_view requestPath, int* error, off_t* size) const {
    *error = ENOENT;
    if (leavesRoot(requestPath))
        return -1;
    size_t skip = 0;
    while (skip < requestPath.size() && requestPath[skip] == '/')
        ++skip;
    const std::string relative(requestPath.substr(skip));
    if (relative.empty())
        return -1;  // the root folder itself
    if (mode_ == Mode::PathCheck)
        return openChecked(relative, error, size);
    if (rootFd_ >= 0)
        return openBeneath(rootFd_, relative, error, size);
    // The root did not exist when the server started; it may exist now.
    const int rootFd = ::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return -1;
    const int fd = openBeneath(rootFd, relative, error, size);
    ::close(rootFd);
    return fd;
}

int HttpDocumentRoot::openBeneath(int rootFd, const std::string& relative, int* error,
                                  off_t* size) const {
    open_how how{};
    how.flags = kOpenFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    if (fd < 0) {
        *error = isMissing(errno) ? ENOENT : errno;
        return -1;
    }
    return regularOnly(static_cast<int>(fd), error, size);
}

int HttpDocumentRoot::openChecked(const std::string& relative, int* error, off_t* size) const {
    const std::string root = realPath(path_);
    if (root.empty())
        return -1;
    // Resolve every link first, then open the resolved name without following a link again.
    const std::string resolved = realPath(root + "/" + relative);
    if (resolved.empty()) {
        *error = isMissing(errno) ? ENOENT : errno;
        return -1;
    }
    const std::string prefix = root == "/" ? root : root + "/";
    if (resolved.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int fd;
    do {
        fd = ::open(resolved.c_str(), kOpenFlags | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = isMissing(errno) ? ENOENT : errno;
        return -1;
    }
    return regularOnly(fd, error, size);
}

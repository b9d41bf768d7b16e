#include "servers/DocumentRoot.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

// O_NONBLOCK keeps a FIFO from blocking the open; it does nothing for regular files.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
// Links followed on one path, as the kernel allows.
constexpr int kMaxLinks = 40;

// Errors that mean "no such file below the root".
bool isMissing(int error) {
    return error == ENOENT || error == ENOTDIR || error == EXDEV || error == ELOOP ||
           error == ENAMETOOLONG || error == EISDIR || error == ENXIO;
}

// Keeps fd when it is a regular file; otherwise closes it and reports ENOENT.
int regularOnly(int fd, int* error, OpenedFile* file) {
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
    if (file) {
        file->size = st.st_size;
        file->device = st.st_dev;
        file->inode = st.st_ino;
        file->mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return fd;
}

// The names of a "/" separated path, without empty ones and ".". A path ending in "/" (or
// "/.") names a folder: it ends with an empty name then.
std::vector<std::string> splitNames(std::string_view path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (!name.empty() && name != ".")
            names.emplace_back(name);
        start = end + 1;
    }
    if (!path.empty() && (path.back() == '/' || path.substr(path.rfind('/') + 1) == "."))
        names.emplace_back();
    return names;
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

long openat2Beneath(int dirFd, const char* path, int flags) {
    open_how how{};
    how.flags = static_cast<__u64>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = syscall(SYS_openat2, dirFd, path, &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return fd;
}

// Descriptors closed on leaving the scope.
class FdStack {
  public:
    FdStack() = default;
    FdStack(const FdStack&) = delete;
    FdStack& operator=(const FdStack&) = delete;
    ~FdStack() { Clear(); }
    bool Empty() const { return fds_.empty(); }
    int Top() const { return fds_.back(); }
    void Push(int fd) { fds_.push_back(fd); }
    void Pop() {
        ::close(fds_.back());
        fds_.pop_back();
    }
    void Clear() {
        while (!fds_.empty())
            Pop();
    }

  private:
    std::vector<int> fds_;
};

}  // namespace

const char* DocumentRoot::RefusalReason(int error) {
    return error == kWithheldFile ? "the server's key and credentials are never served"
                                  : "names beginning with \".\" are never served";
}

DocumentRoot::DocumentRoot(std::string path, Mode mode) : path_(std::move(path)), mode_(mode) {
    if (mode_ == Mode::Auto)
        mode_ = kernelHasOpenat2() ? Mode::Beneath : Mode::PathCheck;
    rootFd_ = ::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

DocumentRoot::~DocumentRoot() {
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

void DocumentRoot::Withhold(const std::vector<std::string>& files) {
    withheldNames_.clear();
    withheldFiles_.clear();
    for (const std::string& name : files) {
        if (name.empty())
            continue;
        withheldNames_.push_back(name);
        struct stat st {};
        if (::stat(name.c_str(), &st) == 0)
            withheldFiles_.push_back({st.st_dev, st.st_ino});
    }
}

bool DocumentRoot::withheld(const OpenedFile& file) const {
    const auto same = [&](dev_t device, ino_t inode) {
        return device == file.device && inode == file.inode;
    };
    for (const Identity& id : withheldFiles_)
        if (same(id.device, id.inode))
            return true;
    // The name may lead to another file by now (a key written anew).
    for (const std::string& name : withheldNames_) {
        struct stat st {};
        if (::stat(name.c_str(), &st) == 0 && same(st.st_dev, st.st_ino))
            return true;
    }
    return false;
}

int DocumentRoot::Open(std::string_view requestPath, int* error, off_t* size) const {
    OpenedFile file;
    const int fd = Open(requestPath, error, &file);
    if (fd >= 0 && size)
        *size = file.size;
    return fd;
}

int DocumentRoot::Open(std::string_view requestPath, int* error, OpenedFile* file) const {
    *error = ENOENT;
    OpenedFile opened;
    const auto fail = [&] {
        if (file)
            file->outsideRoot = opened.outsideRoot;
        return -1;
    };
    if (PathLeavesRoot(requestPath)) {
        opened.outsideRoot = true;
        return fail();
    }
    if (PathHasHiddenName(requestPath)) {
        *error = kHiddenName;
        return -1;
    }
    size_t skip = 0;
    while (skip < requestPath.size() && requestPath[skip] == '/')
        ++skip;
    const std::string relative(requestPath.substr(skip));
    if (relative.empty())
        return fail();  // the root folder itself
    int fd;
    if (rootFd_ >= 0) {
        fd = openBelow(rootFd_, relative, error, &opened);
    } else {
        // The root did not exist when the server started; it may exist now.
        const int rootFd = ::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0)
            return fail();
        fd = openBelow(rootFd, relative, error, &opened);
        ::close(rootFd);
    }
    if (fd < 0)
        return fail();
    if (!withheldNames_.empty() && withheld(opened)) {
        ::close(fd);
        *error = kWithheldFile;
        return fail();
    }
    if (file)
        *file = opened;
    return fd;
}

int DocumentRoot::openBelow(int rootFd, const std::string& relative, int* error,
                            OpenedFile* file) const {
    if (mode_ == Mode::PathCheck)
        return walk(rootFd, relative, error, file);
    const long fd = openat2Beneath(rootFd, relative.c_str(), kOpenFlags);
    if (fd >= 0)
        return regularOnly(static_cast<int>(fd), error, file);
    const int failure = errno;
    // The kernel refuses every link written as an absolute path, and every link leading out;
    // the walk serves the first kind when it points inside the root.
    if (failure == EXDEV)
        return walk(rootFd, relative, error, file);
    if (isMissing(failure))
        return -1;
    // Refused (e.g. a folder without read permission): a name that is not a regular file is
    // missing all the same.
    const long path = openat2Beneath(rootFd, relative.c_str(), O_PATH | O_CLOEXEC);
    struct stat st {};
    const bool regular =
        path >= 0 && fstat(static_cast<int>(path), &st) == 0 && S_ISREG(st.st_mode);
    if (path >= 0)
        ::close(static_cast<int>(path));
    *error = path >= 0 && !regular ? ENOENT : failure;
    return -1;
}

bool DocumentRoot::namesBelowRoot(const std::vector<std::string>& names, size_t shortest,
                                  std::vector<std::string>* below) const {
    const std::string root = realPath(path_);
    if (root.empty())
        return false;
    // The longest leading part that is the root itself, however it is spelled; the rest is
    // walked from the root.
    std::vector<std::pair<std::string, size_t>> prefixes;  // a leading part, its last name
    std::string prefix;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty())
            continue;  // a folder's end mark
        prefix += "/" + names[i];
        if (i + 1 >= shortest)
            prefixes.emplace_back(prefix, i);
    }
    for (auto part = prefixes.rbegin(); part != prefixes.rend(); ++part) {
        if (realPath(part->first) != root)
            continue;
        below->assign(names.begin() + static_cast<std::ptrdiff_t>(part->second + 1), names.end());
        return true;
    }
    if (root == "/" && shortest == 0) {  // every path leads back to it
        *below = names;
        return true;
    }
    return false;
}

int DocumentRoot::walk(int rootFd, const std::string& relative, int* error,
                       OpenedFile* file) const {
    std::vector<std::string> pending = splitNames(relative);
    std::reverse(pending.begin(), pending.end());  // the next name at the back
    FdStack folders;                               // the folders walked into, below the root
    int links = 0;
    *error = ENOENT;
    // The rest of the path, now outside the root (names from "/" on): walked on from the root
    // when it leads back below it (the root's spelling counted only from the shortest-th name
    // on), else refused.
    const auto comeBack = [&](std::vector<std::string> outside, size_t shortest) {
        outside.insert(outside.end(), pending.rbegin(), pending.rend());
        std::vector<std::string> below;
        if (++links > kMaxLinks)
            return false;
        if (!namesBelowRoot(outside, shortest, &below)) {
            file->outsideRoot = true;
            return false;
        }
        folders.Clear();
        pending.assign(below.rbegin(), below.rend());
        return true;
    };
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty()) {
            if (pending.empty())
                return -1;  // a folder was asked for
            continue;
        }
        if (name == "..") {
            if (!folders.Empty()) {
                folders.Pop();
                continue;
            }
            // Above the root: back below it only by a name after the "..".
            std::vector<std::string> outside = splitNames(realPath(path_));
            outside.emplace_back("..");
            const size_t shortest = outside.size() + 1;
            if (!comeBack(std::move(outside), shortest))
                return -1;
            continue;
        }
        const int parent = folders.Empty() ? rootFd : folders.Top();
        // One name below a folder held open cannot lead anywhere else; a link is opened as
        // itself.
        const int fd = ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            *error = isMissing(errno) ? ENOENT : errno;
            return -1;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            *error = errno;
            ::close(fd);
            return -1;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlinkat(fd, "", target.data(), target.size());
            ::close(fd);
            if (n <= 0 || size_t(n) >= target.size() || ++links > kMaxLinks)
                return -1;
            target.resize(size_t(n));
            const std::vector<std::string> names = splitNames(target);
            if (target.front() == '/') {
                if (!comeBack(names, 0))
                    return -1;
                continue;
            }
            pending.insert(pending.end(), names.rbegin(), names.rend());
            continue;
        }
        if (!pending.empty()) {
            if (!S_ISDIR(st.st_mode)) {
                ::close(fd);
                return -1;
            }
            folders.Push(fd);
            continue;
        }
        ::close(fd);
        if (!S_ISREG(st.st_mode))
            return -1;
        int opened;
        do {
            opened = ::openat(parent, name.c_str(), kOpenFlags | O_NOFOLLOW);
        } while (opened < 0 && errno == EINTR);
        if (opened < 0) {
            *error = isMissing(errno) ? ENOENT : errno;
            return -1;
        }
        return regularOnly(opened, error, file);
    }
    return -1;  // the root itself, or a folder
}

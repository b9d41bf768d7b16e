// libFuzzer target: the request paths of the built-in HTTP server. The input is a request
// target; its decoded path is opened below a small document root that this target builds in a
// temporary folder, beside a folder outside the root that links point into. Nothing outside
// the root may ever be opened, nor a name with a part beginning with "."; the two ways of
// opening (openat2 beneath the root, and the walk one name at a time) must agree, also on links
// written as absolute paths.
#include "FuzzSupport.h"
#include "servers/DocumentRoot.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

using namespace fuzz;

namespace {

const char kInside[] = "inside";

struct Tree {
    std::string root;  // as the server is given it
    std::string realRoot;
    std::vector<std::unique_ptr<DocumentRoot>> roots;
};

void put(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    FUZZ_CHECK(writeFile(path, content));
}

void link(const QString& target, const QString& path) {
    FUZZ_CHECK(::symlink(target.toUtf8().constData(), path.toUtf8().constData()) == 0);
}

bool kernelHasOpenat2() {
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_DIRECTORY;
    const long fd = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
    if (fd >= 0)
        ::close(static_cast<int>(fd));
    return fd >= 0;
}

// root/ holds files, a folder, a FIFO, links that stay inside (relative, and absolute through
// the root's real path or the link to it) and links that lead out (to ../outside, to its
// absolute path, to "/" and to themselves); the root is also reached through a link to it.
const Tree& tree() {
    static const Tree built = [] {
        Tree t;
        const QString base = scratchDir() + "/http";
        const QString root = base + "/root";
        put(base + "/outside/secret", "outside");
        put(root + "/a.txt", kInside);
        put(root + "/cfg/cfg02e5d2aabbcc", kInside);
        put(root + "/cfg/sub/c.xml", kInside);
        put(root + "/fw/a b.rom", kInside);
        QDir().mkpath(root + "/empty");
        FUZZ_CHECK(::mkfifo((root + "/fifo").toUtf8().constData(), 0600) == 0);
        link("a.txt", root + "/link-in");
        link("../a.txt", root + "/cfg/link-up");
        link("../cfg", root + "/fw/cfg");
        link("../outside/secret", root + "/link-out");
        link("../outside", root + "/dir-out");
        link(base + "/outside/secret", root + "/abs-out");
        link("/", root + "/top");
        link("loop", root + "/loop");
        link("root", base + "/root-link");
        t.root = root.toStdString();
        char real[PATH_MAX];
        FUZZ_CHECK(::realpath(t.root.c_str(), real) != nullptr);
        t.realRoot = real;
        link(QString::fromStdString(t.realRoot) + "/a.txt", root + "/abs-in");
        link(QString::fromStdString(t.realRoot) + "/cfg/", root + "/fw/abs-dir");
        link(base + "/root-link/cfg/sub/c.xml", root + "/abs-via-link");
        link("../root/a.txt", root + "/around");
        std::vector<DocumentRoot::Mode> modes{DocumentRoot::Mode::PathCheck};
        if (kernelHasOpenat2())
            modes.push_back(DocumentRoot::Mode::Beneath);
        for (const DocumentRoot::Mode mode : modes) {
            t.roots.push_back(std::make_unique<DocumentRoot>(t.root, mode));
            t.roots.push_back(
                std::make_unique<DocumentRoot>((base + "/root-link").toStdString(), mode));
        }
        return t;
    }();
    return built;
}

// Where an open descriptor's file lies, as the kernel names it.
std::string openedPath(int fd) {
    char path[PATH_MAX + 1];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, PATH_MAX);
    FUZZ_CHECK(n > 0);
    return std::string(path, static_cast<size_t>(n));
}

bool hasDotDotSegment(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0 && end - start == 2)
            return true;
        start = end + 1;
    }
    return false;
}

std::string percentEncoded(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : path) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

// Decoding: never longer than the target, empty or beginning with "/"; a path encoded byte by
// byte after its "/" decodes to itself; a target from the root without escapes or query is its
// own path, and any other target without a scheme names nothing.
void checkDecoding(std::string_view target, const std::string& path) {
    FUZZ_CHECK(path.size() <= target.size());
    FUZZ_CHECK(path.empty() || path.front() == '/');
    if (!path.empty())
        FUZZ_CHECK(RequestPath("/" + percentEncoded(path.substr(1))) == path);
    if (target.find("://") != std::string_view::npos)
        return;
    if (target.empty() || target.front() != '/')
        FUZZ_CHECK(path.empty());
    else if (target.find_first_of("%?") == std::string_view::npos)
        FUZZ_CHECK(path == target);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Tree& t = tree();
    const std::string_view target(reinterpret_cast<const char*>(data), size);
    const std::string path = RequestPath(target);
    checkDecoding(target, path);

    int firstFd = -2, firstError = 0;
    bool firstOutside = false;
    for (const auto& root : t.roots) {
        int error = 0;
        OpenedFile file;
        const int fd = root->Open(path, &error, &file);
        const off_t fileSize = file.size;
        if (fd >= 0) {
            // Only regular files below the root, never with a ".." segment or a NUL byte.
            const std::string opened = openedPath(fd);
            FUZZ_CHECK(opened.compare(0, t.realRoot.size() + 1, t.realRoot + "/") == 0);
            FUZZ_CHECK(!hasDotDotSegment(path) && path.find('\0') == std::string::npos);
            FUZZ_CHECK(!PathHasHiddenName(path));
            struct stat st {};
            FUZZ_CHECK(::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == fileSize);
            char content[sizeof kInside] = {};
            FUZZ_CHECK(::pread(fd, content, sizeof content - 1, 0) == sizeof content - 1);
            FUZZ_CHECK(std::string(content) == kInside);
            ::close(fd);
        } else {
            // A name with a part beginning with "." is refused as such, unless it leaves the root.
            FUZZ_CHECK(fd == -1);
            FUZZ_CHECK(error == (PathHasHiddenName(path) && !hasDotDotSegment(path) &&
                                         path.find('\0') == std::string::npos
                                     ? DocumentRoot::kHiddenName
                                     : ENOENT));
            // A ".." segment or a NUL byte always leads out; a name never served never does.
            if (hasDotDotSegment(path) || path.find('\0') != std::string::npos)
                FUZZ_CHECK(file.outsideRoot);
            if (error != ENOENT)
                FUZZ_CHECK(!file.outsideRoot);
        }
        // Every root and every way of opening answers alike.
        if (firstFd == -2) {
            firstFd = fd;
            firstError = error;
            firstOutside = file.outsideRoot;
        } else {
            FUZZ_CHECK((fd >= 0) == (firstFd >= 0) && error == firstError &&
                       file.outsideRoot == firstOutside);
        }
    }
    return 0;
}

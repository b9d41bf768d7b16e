#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>
#include <vector>

// The path part of a request target: an absolute URL loses its scheme and host, the query is
// cut off, percent-escapes are decoded ("%20" gives a blank); a "%" not followed by two
// hexadecimal digits stays as it is. An absolute URL without a path gives "/"; any other
// target that does not begin with "/" ("cfg/x", "*") gives an empty path, which names nothing.
std::string RequestPath(std::string_view target);

// True when a path below the root has a ".." segment or a NUL byte (no file name holds one):
// such a path is refused before anything is looked up.
bool PathLeavesRoot(std::string_view path);

// The folder a server hands files out of. Files are opened only below it: a path with a ".."
// segment is refused, and a symbolic link is followed only when the file it leads to lies below
// the folder, however the link is written (relative, or absolute through the folder's path, its
// real path or any other link to it); every other link is refused. Nothing outside the folder
// is ever opened: the names a link passes outside are looked up, never opened.
class HttpDocumentRoot {
  public:
    // How files below the root are opened: Beneath lets the kernel refuse any escape while it
    // resolves the path (openat2) and walks the path itself only for the links the kernel
    // refuses (those written as absolute paths); PathCheck always walks the path one name at a
    // time (for kernels without openat2). Both serve and refuse the same names. Auto takes
    // Beneath where the kernel has it.
    enum class Mode { Auto, Beneath, PathCheck };

    explicit HttpDocumentRoot(std::string path, Mode mode = Mode::Auto);
    ~HttpDocumentRoot();
    HttpDocumentRoot(const HttpDocumentRoot&) = delete;
    HttpDocumentRoot& operator=(const HttpDocumentRoot&) = delete;

    const std::string& path() const { return path_; }

    // Opens the regular file at a request path ("/" separated, below the root) for reading.
    // Gives the descriptor, or -1 with *error set: ENOENT when there is no regular file of that
    // name below the root (missing, a folder, even one that cannot be read, a device, a ".."
    // segment, a link leading out), another errno value when an existing file cannot be opened
    // (e.g. EACCES). *size, when given, receives the file's size.
    int Open(std::string_view requestPath, int* error, off_t* size = nullptr) const;

  private:
    int openBelow(int rootFd, const std::string& relative, int* error, off_t* size) const;
    // Follows the path one name at a time from rootFd, links included, never above the root.
    int walk(int rootFd, const std::string& relative, int* error, off_t* size) const;
    // The names below the root that a path from "/" leads to: its longest leading part (of at
    // least shortest names) that resolves to the root is cut off; false when there is none.
    bool namesBelowRoot(const std::vector<std::string>& names, size_t shortest,
                        std::vector<std::string>* below) const;

    std::string path_;
    Mode mode_;
    int rootFd_ = -1;  // the root folder, opened once when it exists at construction
};

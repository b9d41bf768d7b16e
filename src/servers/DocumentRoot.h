#pragma once

#include "servers/RequestPath.h"

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What DocumentRoot::Open found: the version of the file as it opened it (fstat of the
// descriptor), or, when it opened nothing, whether the path leads out of the root.
struct OpenedFile {
    off_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    int64_t mtimeNs = 0;  // modification time, ns since the epoch
    // Nothing opened: the path has a ".." segment or a NUL byte, or a link on it leads out of
    // the root (whether or not anything is there).
    bool outsideRoot = false;
};

// The folder a server hands files out of. Files are opened only below it: a path with a ".."
// segment is refused, and a symbolic link is followed only when the file it leads to lies below
// the folder, however the link is written (relative, or absolute through the folder's path, its
// real path or any other link to it); every other link is refused. Nothing outside the folder
// is ever opened: the names a link passes outside are looked up, never opened.
//
// Some files are never served, whether or not they exist: a name with a part beginning with "."
// (hidden files, a version control folder) and the files set aside with Withhold (the server's
// TLS key, its credentials), however they are reached (another spelling, a link, a hard link).
class DocumentRoot {
  public:
    // Open's *error for the names never served (no errno value).
    static constexpr int kHiddenName = -1;
    static constexpr int kWithheldFile = -2;
    // Why such a name is refused, for the log line.
    static const char* RefusalReason(int error);

    // How files below the root are opened: Beneath lets the kernel refuse any escape while it
    // resolves the path (openat2) and walks the path itself only for the links the kernel
    // refuses (those written as absolute paths); PathCheck always walks the path one name at a
    // time (for kernels without openat2). Both serve and refuse the same names. Auto takes
    // Beneath where the kernel has it.
    enum class Mode { Auto, Beneath, PathCheck };

    explicit DocumentRoot(std::string path, Mode mode = Mode::Auto);
    ~DocumentRoot();
    DocumentRoot(const DocumentRoot&) = delete;
    DocumentRoot& operator=(const DocumentRoot&) = delete;

    const std::string& path() const { return path_; }

    // Files never to be served, by name (links followed) as they are when a request comes, and
    // as they are now (so a file renamed away stays withheld). Set before the first Open.
    void Withhold(const std::vector<std::string>& files);

    // Opens the regular file at a request path ("/" separated, below the root) for reading.
    // Gives the descriptor, or -1 with *error set: ENOENT when there is no regular file of that
    // name below the root (missing, a folder, even one that cannot be read, a device, a ".."
    // segment, a link leading out), kHiddenName or kWithheldFile for a name never served,
    // another errno value when an existing file cannot be opened (e.g. EACCES). *file or *size,
    // when given, receives what fstat says of the file opened; *file also says when a path
    // that opens nothing leads out of the root.
    int Open(std::string_view requestPath, int* error, OpenedFile* file) const;
    int Open(std::string_view requestPath, int* error, off_t* size = nullptr) const;

  private:
    struct Identity {
        dev_t device;
        ino_t inode;
    };
    // True when the opened file is one of the withheld files.
    bool withheld(const OpenedFile& file) const;
    int openBelow(int rootFd, const std::string& relative, int* error, OpenedFile* file) const;
    // Follows the path one name at a time from rootFd, links included, never above the root.
    int walk(int rootFd, const std::string& relative, int* error, OpenedFile* file) const;
    // The names below the root that a path from "/" leads to: its longest leading part (of at
    // least shortest names) that resolves to the root is cut off; false when there is none.
    bool namesBelowRoot(const std::vector<std::string>& names, size_t shortest,
                        std::vector<std::string>* below) const;

    std::string path_;
    Mode mode_;
    int rootFd_ = -1;  // the root folder, opened once when it exists at construction
    std::vector<std::string> withheldNames_;
    std::vector<Identity> withheldFiles_;  // as they were when withheld
};

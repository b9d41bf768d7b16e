#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

// The path part of a request target: an absolute URL loses its scheme and host, the query is
// cut off, percent-escapes are decoded ("%20" gives a blank); a "%" not followed by two
// hexadecimal digits stays as it is.
std::string RequestPath(std::string_view target);

// The folder a server hands files out of. Files are opened only below it: a path with a ".."
// segment, or one that reaches through a symbolic link to a place outside the folder, is never
// opened.
class HttpDocumentRoot {
  public:
    // How files below the root are opened: Beneath lets the kernel refuse any escape while it
    // resolves the path (openat2), PathCheck opens the path and then checks where the opened file
    // lies (for kernels without openat2). Auto takes Beneath where the kernel has it.
    enum class Mode { Auto, Beneath, PathCheck };

    explicit HttpDocumentRoot(std::string path, Mode mode = Mode::Auto);
    ~HttpDocumentRoot();
    HttpDocumentRoot(const HttpDocumentRoot&) = delete;
    HttpDocumentRoot& operator=(const HttpDocumentRoot&) = delete;

    const std::string& path() const { return path_; }

    // Opens the regular file at a request path ("/" separated, below the root) for reading.
    // Gives the descriptor, or -1 with *error set: ENOENT when there is no regular file of that
    // name below the root (missing, a folder, a device, a ".." segment, a link leading out),
    // another errno value when an existing file cannot be opened (e.g. EACCES). *size, when
    // given, receives the file's size.
    int Open(std::string_view requestPath, int* error, off_t* size = nullptr) const;

  private:
    int openBeneath(int rootFd, const std::string& relative, int* error, off_t* size) const;
    int openChecked(const std::string& relative, int* error, off_t* size) const;

    std::string path_;
    Mode mode_;
    int rootFd_ = -1;  // the root folder, opened once when it exists at construction
};

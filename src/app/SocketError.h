#pragma once

#include <stdexcept>
#include <string>

// A socket failure that escapes a user action; the application-level handler turns it into a
// message ("LAppError1" for access denied or a failed bind, "LAppError2" for an invalid socket).
class SocketError : public std::runtime_error {
  public:
    // AccessDenied (EACCES) and BindFailed (any other reason): a listening socket could not be
    // set up.
    enum class Kind { AccessDenied, BindFailed, InvalidSocket, Closed, Other };

    SocketError(Kind kind, int systemError, const std::string& what)
        : std::runtime_error(what), kind_(kind), systemError_(systemError) {}

    Kind kind() const { return kind_; }
    // The errno value (EACCES for access denied).
    int systemError() const { return systemError_; }

  private:
    Kind kind_;
    int systemError_;
};

#include "app/EscapedErrors.h"

#include "app/SocketError.h"

#include <cerrno>

EscapedErrorReaction ClassifyEscapedException(std::exception_ptr error) {
    if (!error)
        return {};
    EscapedErrorReaction unshown;
    try {
        std::rethrow_exception(error);
    } catch (const SocketError& e) {
        switch (e.kind()) {
            // A listening socket refused, in use or for lack of permission: the HTTP server
            // did not start.
            case SocketError::Kind::BindFailed:
            case SocketError::Kind::AccessDenied:
                return {"LAppError1", true, {}};
            case SocketError::Kind::InvalidSocket:
                return {"LAppError2", false, {}};
            case SocketError::Kind::Closed:
                break;
            case SocketError::Kind::Other:
                if (e.systemError() == EACCES)
                    return {"LAppError1", false, {}};
                break;
        }
        unshown.unshown = e.what();
    } catch (const std::exception& e) {
        unshown.unshown = e.what();
    } catch (...) {
        unshown.unshown = "unknown exception";
    }
    return unshown;
}

namespace {
EscapedExceptionHandler& handlerInForce() {
    static EscapedExceptionHandler handler;
    return handler;
}
}  // namespace

void SetEscapedExceptionHandler(EscapedExceptionHandler handler) {
    handlerInForce() = std::move(handler);
}

void ReportEscapedException(std::exception_ptr error) {
    const EscapedExceptionHandler handler = handlerInForce();
    if (!handler)
        return;
    try {
        handler(error);
    } catch (...) {
    }
}

#include "app/EscapedErrors.h"
#include "app/SocketError.h"

#include <gtest/gtest.h>
#include <cerrno>

TEST(EscapedErrors, SocketFailuresGiveTheirMessageEverythingElseIsDropped) {
    using K = SocketError::Kind;
    struct Case {
        std::exception_ptr error;
        QString key;
        bool resetHttpButton;
    } cases[] = {
        {std::make_exception_ptr(SocketError(K::AccessDenied, EACCES, "access")), "LAppError1",
         true},
        {std::make_exception_ptr(SocketError(K::BindFailed, EADDRINUSE, "bind")), "LAppError1",
         true},
        {std::make_exception_ptr(SocketError(K::InvalidSocket, EBADF, "invalid")), "LAppError2",
         false},
        {std::make_exception_ptr(SocketError(K::Other, EACCES, "denied")), "LAppError1", false},
        {std::make_exception_ptr(SocketError(K::Closed, EPIPE, "closed")), "", false},
        {std::make_exception_ptr(SocketError(K::Other, ECONNRESET, "reset")), "", false},
        {std::make_exception_ptr(std::runtime_error("other")), "", false},
        {std::make_exception_ptr(42), "", false},
        {nullptr, "", false},
    };
    for (const Case& c : cases) {
        const EscapedErrorReaction reaction = ClassifyEscapedException(c.error);
        EXPECT_EQ(reaction.messageKey, c.key);
        EXPECT_EQ(reaction.resetHttpButton, c.resetHttpButton);
        // What shows no message says what it was instead.
        EXPECT_EQ(reaction.unshown.isEmpty(), !c.key.isEmpty() || !c.error);
    }
}

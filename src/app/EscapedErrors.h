#pragma once

#include <QString>
#include <exception>

// What the program does with an exception that escaped an event handler: socket failures give
// a message, everything else is dropped.
struct EscapedErrorReaction {
    QString messageKey;            // empty: nothing is shown
    bool resetHttpButton = false;  // a listening socket could not be bound
};

EscapedErrorReaction ClassifyEscapedException(std::exception_ptr error);

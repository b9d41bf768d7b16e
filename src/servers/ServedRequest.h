#pragma once

#include <QByteArray>
#include <QtGlobal>

// One finished request of a built-in server, as its observer receives it.
struct ServedRequest {
    enum class Outcome {
        Delivered,  // the whole file reached the client
        Refused,    // an ERROR answered the request (errorCode)
        Failed,    // an ERROR ended the transfer, sent (a read failure) or received from the client
        TimedOut,  // the client stopped answering
        Stopped,   // the server stopped during the transfer
    };

    QByteArray protocol;  // "tftp"
    QByteArray peer;      // the client's address
    QByteArray path;      // the file asked for, below the document root ("cfg/cfg02e5d2aabbcc")
    Outcome outcome = Outcome::Delivered;
    int errorCode = -1;  // the protocol's error code sent or received; -1 when none
    quint64 bytes = 0;   // data bytes the client acknowledged
};

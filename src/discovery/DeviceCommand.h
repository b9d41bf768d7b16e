#pragma once

#include "app/ServerUrl.h"

#include <QByteArray>
#include <cstdint>

// The five SIP NOTIFY commands sent to phones.
enum class DeviceCommandKind : int32_t {
    OnlineCheck = 0,   // refresh: "check-online", answer awaited
    ProvisionMac = 1,  // provision or upgrade, MAC mode
    ProvisionPin = 2,  // provision or upgrade, PIN mode
    PnpAnswerMac = 3,  // plug-and-play answer, MAC mode
    PnpAnswerPin = 4,  // plug-and-play answer, PIN mode
};

// The fields a command message is made of. body is the URL as given; the PIN kinds (2 and 4)
// append "$input.cfg" to it.
struct DeviceCommandFields {
    DeviceCommandKind kind = DeviceCommandKind::OnlineCheck;
    QByteArray user;
    QByteArray address;
    int32_t port = 60000;
    QByteArray callId;
    QByteArray body;
};

// The body as the command carries it.
QByteArray DeviceCommandBody(DeviceCommandKind kind, const QByteArray& url);
// The whole datagram, byte for byte.
QByteArray ComposeDeviceCommand(const DeviceCommandFields& fields);

// The forms of a MAC text.
enum class MacForm {
    Separated,    // six pairs joined by "-" or ":" (input only)
    Dashed,       // "0a-1b-2c-3d-4e-5f" (output)
    Colon,        // "0a:1b:2c:3d:4e:5f" (output)
    Plain,        // "0a1b2c3d4e5f"
    MacPrefixed,  // "MAC0a1b2c3d4e5f"
};
// Converts a MAC text between forms; letter case is kept. Separated output means Dashed.
QByteArray ConvertMacText(const QByteArray& text, MacForm input, MacForm output);

// The value of an answer's "User-Agent" header: after the name and the one character that
// follows it (the colon) and any blanks, up to the line's end. False when there is none.
bool FindUserAgentValue(const QByteArray& reply, QByteArray* value);

// Model and version from an online-check answer: the User-Agent value's last word is the
// version, the text before it the model; "unknow" for what is empty. False when the answer
// holds no "User-Agent".
bool ParseOnlineCheckAnswer(const QByteArray& reply, QByteArray* model, QByteArray* version);

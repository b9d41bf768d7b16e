#pragma once

#include <QByteArray>

// The phone a MAC text names: twelve lower-case hexadecimal digits, from "0a1b2c3d4e5f",
// "0A-1B-2C-3D-4E-5F", "0a:1b:..." or "MAC0a1b2c3d4e5f"; empty when the text is none of these.
QByteArray PhoneOfMac(const QByteArray& text);

// The phone whose configuration file a requested path names. Only the names a batch writes
// count, at the top of the served folder or in its "cfg" folder (where batches to the built-in
// server write): "cfg" + MAC and "cfg" + MAC + ".xml" name a MAC (as PhoneOfMac), "<pin>.cfg"
// and "<pin>.xml" a PIN as it stands. Any other path names no phone.
struct PhoneFile {
    QByteArray phone;  // empty: no phone's file
    // Named by a PIN form: such a name is a phone's only when a batch wrote that PIN (a
    // "common.cfg" is no phone).
    bool pin = false;
};
PhoneFile PhoneFileOf(const QByteArray& path);

// A User-Agent (or a SIP answer's) split as phones write it, "<model> <version>": the model
// before the last blank, the version after it, blanks at either end left out; false (both
// left alone) without a blank or with nothing before it. The phone_status view reads a
// download's User-Agent the same way.
bool SplitUserAgent(const QByteArray& value, QByteArray* model, QByteArray* version);

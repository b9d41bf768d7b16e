#pragma once

#include <QByteArray>

// The phone a MAC text names: twelve lower-case hexadecimal digits, from "0a1b2c3d4e5f",
// "0A-1B-2C-3D-4E-5F", "0a:1b:..." or "MAC0a1b2c3d4e5f"; empty when the text is none of these.
QByteArray PhoneOfMac(const QByteArray& text);

// The phone whose configuration file a requested path names, by its last segment:
// "cfg" + MAC and "cfg" + MAC + ".xml" give the MAC (as PhoneOfMac), "<pin>.cfg" and
// "<pin>.xml" the PIN as it stands; empty for any other name.
QByteArray PhoneOfFile(const QByteArray& path);

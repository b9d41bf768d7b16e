#pragma once

#include "support/TempDir.h"

#include <QByteArray>
#include <QString>

// Inputs and independent oracles for the bulk encryption tests.

// The README's initialisation vector and the default key's 16 bytes, in hexadecimal.
inline constexpr char kIvHex[] = "0313181f181d01131a161d1b0705020a";
inline constexpr char kDefaultKeyHex[] = "02e5d220170412000000000000000000";

// A plain XML file of exactly size bytes (at least 51).
inline QByteArray XmlOfSize(int size) {
    const QByteArray head = "<?xml version=\"1.0\"?>\n<zv_provision>";
    const QByteArray tail = "</zv_provision>";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

// A bin file of exactly size bytes (at least 28).
inline QByteArray BinOfSize(int size) {
    const QByteArray head = "Flag=5678&CheckSum=0&P1=";
    return head + QByteArray(size - head.size() - 4, 'v') + "&end";
}

// The file decrypted by openssl with the given key and the README's vector; empty when openssl
// fails.
inline QByteArray OpensslDecrypt(const QString& path, const QString& keyHex) {
    QByteArray plain;
    const int rc = RunProgram(
        "openssl",
        {"enc", "-d", "-aes-128-cbc", "-nopad", "-K", keyHex, "-iv", kIvHex, "-in", path}, &plain);
    return rc == 0 ? plain : QByteArray();
}

// Scrambled bytes XORed back with the README's table (the trailer passes unchanged).
inline QByteArray Unscramble(QByteArray bytes, int textSize) {
    static const unsigned char table[16] = {0x5C, 0x3A, 0x91, 0xE7, 0x0B, 0x6D, 0xF2, 0x48,
                                            0xA3, 0x1E, 0x7F, 0xC4, 0x29, 0xB6, 0xD8, 0x63};
    for (int i = 0; i < textSize && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ table[i % 16]);
    return bytes;
}

// What a bulk run must write for a bin input of n bytes without a zero byte.
inline QByteArray ExpectedScrambledPlain(const QByteArray& input) {
    return input + QByteArray("CFGBINENDHERE\0", 14);
}

#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

using Aes128Block = std::array<uint8_t, 16>;

// The key text used when the user gives none.
inline constexpr char kDefaultXmlKey[] = "02E5D220170412";

// The 16 bytes that scramble bin configuration text, byte i with entry i mod 16.
inline constexpr uint8_t BinScrambleTable[16] = {0x5C, 0x3A, 0x91, 0xE7, 0x0B, 0x6D, 0xF2, 0x48,
                                                 0xA3, 0x1E, 0x7F, 0xC4, 0x29, 0xB6, 0xD8, 0x63};
// The trailer of a scrambled bin file: these 13 letters and one zero byte.
inline constexpr char kScrambledBinTrailer[] = "CFGBINENDHERE";
inline constexpr int kScrambledBinTrailerSize = 14;

// The two halves of the initialisation vector; the vector is their bytewise XOR.
inline constexpr char IvPieceA[] = "orvoprovisionkey";
inline constexpr char IvPieceB[] = "lanphonesettings";
Aes128Block CfgIv();

// AES-128 in CBC mode over whole 16-byte blocks: no padding, output as long as the input.
// in and out may be the same buffer. False when the cipher cannot run.
bool AesCbcEncrypt(const uint8_t* in, size_t blockCount, const Aes128Block& key,
                   const Aes128Block& iv, uint8_t* out);

// The key bytes of a hexadecimal key text: pairs of digits fill bytes 0..7, the first
// character that is not a hexadecimal digit ends the conversion, an odd text gets a "0".
Aes128Block HexKeyToBytes(const QByteArray& keyText);
// Whether every character of the key text is a hexadecimal digit, so that HexKeyToBytes takes
// all of it (any other character ends the key there: with none before it, the zero key).
bool IsHexKeyText(const QByteArray& keyText);

// Encrypts a caller-prepared buffer (its length a multiple of 16) under the key text, or the
// default key when the text is empty. Empty result when the length is not a multiple of 16.
// A buffer handed over (moved) is encrypted in place.
QByteArray EncryptXmlBuffer(QByteArray buffer, const QByteArray& keyText);

// The text XOR BinScrambleTable, followed by the trailer: text length + 14 bytes.
QByteArray ScrambleBinText(const QByteArray& text);

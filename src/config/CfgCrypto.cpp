#include "config/CfgCrypto.h"

#include "app/Numbers.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

Aes128Block CfgIv() {
    Aes128Block iv{};
    for (size_t i = 0; i < iv.size(); ++i)
        iv[i] = static_cast<uint8_t>(IvPieceA[i] ^ IvPieceB[i]);
    return iv;
}

bool AesCbcEncrypt(const uint8_t* in, size_t blockCount, const Aes128Block& key,
                   const Aes128Block& iv, uint8_t* out) {
    if (blockCount == 0)
        return true;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    const size_t total = blockCount * 16;
    size_t done = 0;
    while (done < total) {
        // EVP lengths are ints: go in chunks well below INT_MAX.
        const int chunk = static_cast<int>(std::min<size_t>(total - done, size_t(1) << 30));
        int outLen = 0;
        if (EVP_EncryptUpdate(ctx.get(), out + done, &outLen, in + done, chunk) != 1 ||
            outLen != chunk)
            return false;
        done += static_cast<size_t>(chunk);
    }
    int finalLen = 0;
    return EVP_EncryptFinal_ex(ctx.get(), out + done, &finalLen) == 1 && finalLen == 0;
}

Aes128Block HexKeyToBytes(const QByteArray& keyText) {
    QByteArray text = keyText;
    if (text.size() % 2 != 0)
        text += '0';
    Aes128Block key{};
    for (qsizetype i = 0; i + 1 < text.size() && i / 2 < 8; i += 2) {
        const int high = HexDigitValue(text[i]);
        if (high < 0)
            break;
        const int low = HexDigitValue(text[i + 1]);
        if (low < 0) {
            key[static_cast<size_t>(i / 2)] = static_cast<uint8_t>(high);
            break;
        }
        key[static_cast<size_t>(i / 2)] = static_cast<uint8_t>(high << 4 | low);
    }
    return key;
}

bool IsHexKeyText(const QByteArray& keyText) {
    for (const char c : keyText)
        if (HexDigitValue(c) < 0)
            return false;
    return true;
}

QByteArray EncryptXmlBuffer(QByteArray buffer, const QByteArray& keyText) {
    if (buffer.size() % 16 != 0)
        return {};
    const Aes128Block key = HexKeyToBytes(keyText.isEmpty() ? QByteArray(kDefaultXmlKey) : keyText);
    auto* data = reinterpret_cast<uint8_t*>(buffer.data());
    if (!AesCbcEncrypt(data, static_cast<size_t>(buffer.size() / 16), key, CfgIv(), data))
        return {};
    return buffer;
}

QByteArray ScrambleBinText(const QByteArray& text) {
    QByteArray out(text.size() + kScrambledBinTrailerSize, Qt::Uninitialized);
    const char* in = text.constData();
    char* o = out.data();
    const qsizetype n = text.size();
    // The table covers 16 bytes: whole blocks go 8 bytes at a time, the rest byte by byte.
    uint64_t table[2];
    std::memcpy(table, BinScrambleTable, sizeof table);
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        uint64_t block[2];
        std::memcpy(block, in + i, sizeof block);
        block[0] ^= table[0];
        block[1] ^= table[1];
        std::memcpy(o + i, block, sizeof block);
    }
    for (; i < n; ++i)
        o[i] = static_cast<char>(static_cast<uint8_t>(in[i]) ^ BinScrambleTable[i & 15]);
    std::copy(kScrambledBinTrailer, kScrambledBinTrailer + kScrambledBinTrailerSize, o + n);
    return out;
}

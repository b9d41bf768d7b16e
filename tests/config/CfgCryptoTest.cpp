#include "config/CfgCrypto.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace {

QByteArray hex(const Aes128Block& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), 16).toHex();
}

TEST(HexKey, ConvertsPairsAndStopsAtTheFirstNonHexCharacter) {
    const struct {
        const char* key;
        const char* bytes;
    } cases[] = {
        {"abc", "abc00000000000000000000000000000"},
        {"ABC", "abc00000000000000000000000000000"},
        {"12G4", "12000000000000000000000000000000"},
        {"1G", "01000000000000000000000000000000"},
        {"G1", "00000000000000000000000000000000"},
        {"", "00000000000000000000000000000000"},
        {"0123456789abcdef", "0123456789abcdef0000000000000000"},
        {"0123456789abcdef99", "0123456789abcdef0000000000000000"},
        {"02E5D220170412", "02e5d220170412000000000000000000"},
        {"7", "70000000000000000000000000000000"},
        {"a b", "0a000000000000000000000000000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(HexKeyToBytes(c.key)), c.bytes) << c.key;
}

TEST(Aes, MatchesTheCbcKnownAnswer) {
    const QByteArray key = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain =
        QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    Aes128Block k, v;
    std::copy(key.begin(), key.end(), k.begin());
    std::copy(iv.begin(), iv.end(), v.begin());
    QByteArray out(plain.size(), '\0');
    ASSERT_TRUE(AesCbcEncrypt(reinterpret_cast<const uint8_t*>(plain.constData()), 2, k, v,
                              reinterpret_cast<uint8_t*>(out.data())));
    EXPECT_EQ(out.toHex(), "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
}

TEST(Iv, IsTheXorOfTwoLowerCaseLetterPieces) {
    ASSERT_EQ(strlen(IvPieceA), 16u);
    ASSERT_EQ(strlen(IvPieceB), 16u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(IvPieceA[i] >= 'a' && IvPieceA[i] <= 'z');
        EXPECT_TRUE(IvPieceB[i] >= 'a' && IvPieceB[i] <= 'z');
        EXPECT_EQ(CfgIv()[i], IvPieceA[i] ^ IvPieceB[i]);
    }
}

TEST(XmlBuffer, EncryptsDeterministicallyAndDecryptsWithOpenssl) {
    QByteArray buffer("<?xml version=\"1.0\"?><zv_provision/>");
    buffer.append(QByteArray(48 - buffer.size(), '\0'));
    const QByteArray a = EncryptXmlBuffer(buffer, "abc");
    EXPECT_EQ(a.size(), 48);
    EXPECT_EQ(a, EncryptXmlBuffer(buffer, "abc"));
    EXPECT_NE(a, EncryptXmlBuffer(buffer, "abd"));
    EXPECT_EQ(EncryptXmlBuffer(buffer, ""), EncryptXmlBuffer(buffer, kDefaultXmlKey));
    EXPECT_TRUE(EncryptXmlBuffer(buffer.left(47), "abc").isEmpty());

    TempDir dir;
    const QString path = dir.write("enc", a);
    QByteArray plain;
    ASSERT_EQ(
        RunProgram("openssl",
                   {"enc", "-d", "-aes-128-cbc", "-nopad", "-K", QString(hex(HexKeyToBytes("abc"))),
                    "-iv", QString(hex(CfgIv())), "-in", path},
                   &plain),
        0);
    EXPECT_EQ(plain, buffer);
}

TEST(Scramble, AppendsTheTrailerAndXorsEveryByte) {
    // Every length around the table's 16-byte period, with bytes of every value.
    for (int length = 0; length <= 49; ++length) {
        QByteArray text = QByteArray("Flag=5678&CheckSum=0&end").repeated(3).left(length);
        for (int i = 0; i < length; i += 7)
            text[i] = static_cast<char>(0x80 + i);
        const QByteArray out = ScrambleBinText(text);
        ASSERT_EQ(out.size(), length + 14);
        EXPECT_EQ(out.right(14), QByteArray("CFGBINENDHERE\0", 14));
        for (int i = 0; i < length; ++i)
            EXPECT_EQ(static_cast<uint8_t>(out[i]),
                      static_cast<uint8_t>(text[i]) ^ BinScrambleTable[i % 16])
                << length << " " << i;
    }
    for (uint8_t b : BinScrambleTable)
        EXPECT_NE(b, 0);
}

}  // namespace

// libFuzzer target: what clients and settings hand the access rules of the built-in servers.
// The input's first line is an address allow-list, the rest a request's Authorization header.
// A list that is taken reads back as it was written and allows the same addresses; a header is
// taken as right only when it is "Basic" and the Base64 of exactly "user:password".
#include "FuzzSupport.h"
#include "protection/AddressAllowList.h"
#include "protection/BasicCredentials.h"

#include <string_view>

using namespace fuzz;

namespace {

const QByteArray kUser = "phone";
const QByteArray kPassword = "pa:ss w\xc3\xb6rd";

void checkList(const QByteArray& text, const QByteArray& rest) {
    AddressAllowList list;
    QString bad;
    if (!list.Parse(QString::fromUtf8(text), &bad)) {
        FUZZ_CHECK(!bad.isEmpty());
        return;
    }
    FUZZ_CHECK(bad.isEmpty());
    AddressAllowList again;
    FUZZ_CHECK(again.Parse(list.Text()));
    FUZZ_CHECK(again.Text() == list.Text());
    // Addresses from the input's bytes are allowed by both alike.
    for (qsizetype at = 0; at + 4 <= rest.size() && at < 64; at += 4) {
        uint32_t address = 0;
        for (int i = 0; i < 4; ++i)
            address = address << 8 | static_cast<uint8_t>(rest[at + i]);
        FUZZ_CHECK(list.Allows(address) == again.Allows(address));
        FUZZ_CHECK(!list.IsEmpty() || list.Allows(address));
    }
}

QByteArray trimSpaces(QByteArray text) {
    while (text.startsWith(' '))
        text.remove(0, 1);
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

// What a right header must be, worked out on its own.
bool isRight(const QByteArray& header) {
    const QByteArray trimmed = trimSpaces(header);
    if (trimmed.size() < 6 || trimmed.left(6).toLower() != "basic ")
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(trimSpaces(trimmed.mid(6)),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded == kUser + ':' + kPassword;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = bytes(data, size);
    const qsizetype newline = input.indexOf('\n');
    const QByteArray list = newline < 0 ? input : input.left(newline);
    const QByteArray header = newline < 0 ? QByteArray() : input.mid(newline + 1);
    checkList(list, header);

    const BasicCredentials credentials(kUser, kPassword);
    const BasicCredentials::Verdict verdict =
        credentials.Check(std::string_view(header.constData(), size_t(header.size())));
    FUZZ_CHECK((verdict == BasicCredentials::Verdict::Missing) ==
               (header.count(' ') == header.size()));
    FUZZ_CHECK((verdict == BasicCredentials::Verdict::Right) == isRight(header));
    return 0;
}

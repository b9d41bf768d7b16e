// libFuzzer target: bin configuration files. The input is sniffed and read as a file; taken
// apart, it also gives a parameter set that is written (plain and scrambled) and read back.
#include "FuzzSupport.h"
#include "config/BinFile.h"
#include "config/CfgCrypto.h"

using namespace fuzz;

namespace {

void checkSniffing(const QString& path, const QByteArray& text) {
    const ConfigFileKind kind = DetectConfigFileKind(path);
    const QByteArray head = text.left(128);
    FUZZ_CHECK(kind == DetectConfigFileKindOfHead(head));
    FUZZ_CHECK((kind == ConfigFileKind::Unreadable) == text.isEmpty());
    FUZZ_CHECK((kind == ConfigFileKind::Bin) == text.startsWith("Flag="));
    const qsizetype zero = head.indexOf('\0');
    const bool xmlMark = (zero < 0 ? head : head.left(zero)).contains("<?xml");
    if (kind != ConfigFileKind::Bin && kind != ConfigFileKind::Unreadable)
        FUZZ_CHECK((kind == ConfigFileKind::Xml) == xmlMark);
}

// What a read promises: the status by the text's start, an empty set unless Ok, and values
// that never hold "&P" (it always starts a pair).
void checkReading(const QString& path, const QByteArray& text) {
    ParameterSet params;
    params.Set(1, "stale");
    const BinReadStatus status = ReadBinFile(path, params);
    ParameterSet fromText;
    FUZZ_CHECK(ParseBinText(text, fromText) == status && fromText == params);
    if (!text.startsWith("Flag=")) {
        FUZZ_CHECK(status == BinReadStatus::NotBin);
    } else if (!text.contains("&P")) {
        FUZZ_CHECK(status == BinReadStatus::NoPairs);
    } else {
        FUZZ_CHECK(status == BinReadStatus::Ok);
    }
    if (status != BinReadStatus::Ok) {
        FUZZ_CHECK(params.IsEmpty());
        return;
    }
    bool negative = false;
    for (const auto& [p, value] : params) {
        FUZZ_CHECK(!value.contains("&P"));
        negative = negative || p < 0;
    }
    // Written again, what was read reads back the same, unless the writer's order moves a
    // value with "&" to the end or a P-number wrapped around to a negative one.
    if (!negative &&
        (params.IsEmpty() || !params.Value(std::prev(params.end())->first).contains('&'))) {
        ParameterSet again;
        FUZZ_CHECK(ParseBinText(BuildBinText(params), again) ==
                   (params.IsEmpty() ? BinReadStatus::NoPairs : BinReadStatus::Ok));
        FUZZ_CHECK(again == params);
    }
}

// A set whose values the format can hold (no "&P"; no "&" in the last one) reads back equal,
// from the text and from a written file; scrambled, the file is the text XOR the table and the
// trailer.
void checkRoundTrip(FuzzedDataProvider& in) {
    ParameterSet params =
        takeParameters(in, 12, [](const QByteArray& value) { return !value.contains("&P"); });
    if (!params.IsEmpty()) {
        const PNumber last = std::prev(params.end())->first;
        params.Set(last, params.Value(last).replace('&', ""));
    }
    const QByteArray text = BuildBinText(params);
    FUZZ_CHECK(text.startsWith("Flag=5678&CheckSum=0") && text.endsWith("&end"));
    ParameterSet read;
    const BinReadStatus status = ParseBinText(text, read);
    FUZZ_CHECK(status == (params.IsEmpty() ? BinReadStatus::NoPairs : BinReadStatus::Ok));
    FUZZ_CHECK(read == params);

    const QString path = scratchDir() + "/written.bin";
    FUZZ_CHECK(WriteBinFile(path, params, BinScrambling::Plain));
    FUZZ_CHECK(readFile(path) == text);
    FUZZ_CHECK(DetectConfigFileKind(path) == ConfigFileKind::Bin);
    read.Set(-1, "stale");
    FUZZ_CHECK(ReadBinFile(path, read) == status && read == params);

    FUZZ_CHECK(WriteBinFile(path, params, BinScrambling::Scrambled));
    const QByteArray scrambled = readFile(path);
    FUZZ_CHECK(scrambled.size() == text.size() + kScrambledBinTrailerSize);
    FUZZ_CHECK(scrambled.endsWith(QByteArray(kScrambledBinTrailer, kScrambledBinTrailerSize)));
    for (qsizetype i = 0; i < text.size(); ++i)
        FUZZ_CHECK((scrambled[i] ^ static_cast<char>(BinScrambleTable[i % 16])) == text[i]);
    FUZZ_CHECK(DetectConfigFileKind(path) != ConfigFileKind::Bin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = bytes(data, size);
    const QString path = scratchDir() + "/input";
    FUZZ_CHECK(writeFile(path, text));
    checkSniffing(path, text);
    checkReading(path, text);
    FuzzedDataProvider in(data, size);
    checkRoundTrip(in);
    return 0;
}

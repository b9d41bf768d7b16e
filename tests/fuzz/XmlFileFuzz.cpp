// libFuzzer target: XML configuration files. The input is read as a file and compared with what
// an independent, strict XML parser (QXmlStreamReader) sees in it; taken apart, it also gives a
// parameter set that is printed, written (plain and encrypted) and read back.
#include "FuzzSupport.h"
#include "config/XmlFile.h"

#include <QXmlStreamReader>
#include <algorithm>
#include <map>
#include <optional>

using namespace fuzz;

namespace {

// The parameters a strict parser finds where the reader looks: the children "P<digit>..." or
// "p<digit>..." of the root's first child element "config", the first of a number winning.
// Nothing when the document is not well-formed XML 1.0 in UTF-8, has a DTD, or holds a
// parameter element whose content is more than character data (the reader takes only the
// first text node then).
struct StrictView {
    bool config = false;
    ParameterSet params;
};

std::optional<QString> plainText(QXmlStreamReader& xml) {
    QString text;
    int pieces = 0;
    bool cdata = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::Characters:
                text += xml.text();
                cdata = cdata || xml.isCDATA();
                ++pieces;
                break;
            case QXmlStreamReader::EndElement:
                if (cdata && pieces > 1)
                    return std::nullopt;
                return text;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

bool isParameterName(const QString& name, PNumber* p) {
    if (name.size() < 2 || (name[0] != 'P' && name[0] != 'p') || !name[1].isDigit() ||
        name[1].unicode() > '9')
        return false;
    const QByteArray digits = name.mid(1).toUtf8();
    *p = LeadingPNumber(digits.constData(), digits.size());
    return true;
}

std::optional<StrictView> strictView(const QByteArray& text) {
    QXmlStreamReader xml(text);
    StrictView view;
    int depth = 0;
    int rootChildren = 0;
    bool inConfig = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartDocument && !xml.documentEncoding().isEmpty() &&
            xml.documentEncoding().compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
            return std::nullopt;
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            return std::nullopt;
        if (token == QXmlStreamReader::EndElement) {
            if (depth == 2)
                inConfig = false;
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        if (depth == 2 && rootChildren++ == 0 && xml.qualifiedName() == QLatin1String("config")) {
            view.config = true;
            inConfig = true;
        }
        PNumber p = 0;
        if (depth == 3 && inConfig && isParameterName(xml.qualifiedName().toString(), &p)) {
            const std::optional<QString> value = plainText(xml);
            if (!value)
                return std::nullopt;
            view.params.InsertFirst(p, value->toUtf8());
            --depth;
        }
    }
    if (xml.hasError())
        return std::nullopt;
    return view;
}

void checkReading(const QByteArray& text) {
    const QString path = scratchDir() + "/input.xml";
    FUZZ_CHECK(writeFile(path, text));
    ParameterSet params;
    params.Set(3, "stale");
    const XmlReadStatus status = ReadXmlFile(path, params);
    ParameterSet fromText;
    fromText.Set(3, "stale");
    FUZZ_CHECK(ParseXmlText(text, fromText) == status && fromText == params);
    // Unparsable touches nothing; NoConfig leaves the set empty.
    if (status == XmlReadStatus::Unparsable) {
        FUZZ_CHECK(params.Size() == 1 && params.Value(3) == "stale");
        return;
    }
    if (status == XmlReadStatus::NoConfig)
        FUZZ_CHECK(params.IsEmpty());
    if (const std::optional<StrictView> view = strictView(text)) {
        FUZZ_CHECK((status == XmlReadStatus::Ok) == view->config);
        // A text of blanks only in a file reads as empty: the XML library drops it.
        if (status == XmlReadStatus::Ok) {
            FUZZ_CHECK(params.Size() == view->params.Size());
            for (const auto& [p, value] : view->params)
                FUZZ_CHECK(
                    params.Contains(p) &&
                    (params.Value(p) == value || (onlyBlanks(value) && params.Value(p).isEmpty())));
        }
    }
    if (status != XmlReadStatus::Ok || !allXmlCharacters(params))
        return;
    // What was read prints and reads back the same (but for P-numbers that wrapped around to
    // negative ones, which print as "P-5").
    ParameterSet kept;
    for (const auto& [p, value] : params)
        if (p >= 0)
            kept.InsertFirst(p, value);
    ParameterSet again;
    FUZZ_CHECK(ParseXmlText(PrintXmlConfig(kept), again) == XmlReadStatus::Ok && again == kept);
}

// Any set prints as a document that a strict parser accepts. Values XML can hold read back as
// they are; of the others, what is left is read back: their characters XML can hold, in order,
// and each such value is named among the losses. The written file reads back as the printed
// text does; encrypted, it is the printed length plus one, rounded up to the next multiple of
// 16.
void checkRoundTrip(FuzzedDataProvider& in) {
    const ParameterSet params = takeParameters(in, 12, [](const QByteArray&) { return true; });
    XmlLosses losses;
    const QByteArray printed = PrintXmlConfig(params, &losses);
    const std::optional<StrictView> view = strictView(printed);
    FUZZ_CHECK(view && view->config);
    ParameterSet read;
    FUZZ_CHECK(ParseXmlText(printed, read) == XmlReadStatus::Ok);
    FUZZ_CHECK(read.Size() == params.Size() && view->params.Size() == params.Size());
    for (const auto& [p, value] : params) {
        const QByteArray strict = view->params.Value(p);
        const QByteArray element = "P" + QByteArray::number(p);
        const bool lost = std::any_of(losses.begin(), losses.end(),
                                      [&](const XmlLoss& l) { return l.element == element; });
        FUZZ_CHECK(lost == !xmlCharacters(value));
        FUZZ_CHECK(xmlCharacters(strict) && leftOf(strict, value));
        if (xmlCharacters(value))
            FUZZ_CHECK(strict == value);
        FUZZ_CHECK(read.Value(p) == strict);
    }

    const QString path = scratchDir() + "/written.xml";
    FUZZ_CHECK(WriteXmlFile(path, params));
    FUZZ_CHECK(readFile(path) == printed);
    ParameterSet fromFile;
    fromFile.Set(-1, "stale");
    FUZZ_CHECK(ReadXmlFile(path, fromFile) == XmlReadStatus::Ok);
    FUZZ_CHECK_SAME_SETS(fromFile, read);

    const QByteArray key = takeBytes(in, 20);
    const QByteArray encrypted = EncryptedXmlBytes(printed, key);
    FUZZ_CHECK(encrypted.size() == (printed.size() + 1) / 16 * 16 + 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkReading(bytes(data, size));
    FuzzedDataProvider in(data, size);
    checkRoundTrip(in);
    return 0;
}

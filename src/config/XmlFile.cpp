#include "config/XmlFile.h"

#include "app/AtomicFile.h"
#include "config/CfgCrypto.h"

#include <QFile>
#include <QFileInfo>

#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using tinyxml2::XMLAttribute;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

// The length of the UTF-8 sequence at s (n bytes available) and its code point; 0 when the
// bytes there are not UTF-8 (overlong forms and surrogates included).
int utf8Sequence(const unsigned char* s, qsizetype n, char32_t* cp) {
    const unsigned char b = s[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    int len = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < len || s[1] < low || s[1] > high)
        return 0;
    char32_t c = b & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (s[i] & 0x3F);
    }
    *cp = c;
    return len;
}

// The characters of XML 1.0: TAB, LF, CR and everything from U+0020 except U+FFFE and U+FFFF.
bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
}

void noteOnce(QStringList* noted, const QString& what) {
    if (!noted->contains(what))
        noted->append(what);
}

// True when every byte is printable ASCII or one of the given control characters: such text
// goes out as it is.
bool isPlainAscii(const char* data, qsizetype n, const char* controls) {
    return std::all_of(data, data + n, [controls](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c >= 0x20 && c < 0x80) || (c != 0 && std::strchr(controls, ch));
    });
}

// The bytes that are characters of XML 1.0; each one left out is noted once in dropped, a
// character as "U+0001", a byte that is not UTF-8 as "0xFC".
QByteArray keepXmlChars(const char* data, qsizetype n, QStringList* dropped) {
    if (isPlainAscii(data, n, "\t\n\r"))
        return QByteArray(data, n);
    QByteArray kept;
    kept.reserve(n);
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    for (qsizetype i = 0; i < n;) {
        char32_t c = 0;
        const int len = utf8Sequence(s + i, n - i, &c);
        if (len == 0) {
            noteOnce(dropped, QString::asprintf("0x%02X", s[i]));
            ++i;
            continue;
        }
        if (isXmlChar(c))
            kept.append(data + i, len);
        else
            noteOnce(dropped, QString::asprintf("U+%04X", static_cast<unsigned>(c)));
        i += len;
    }
    return kept;
}

// True for a text of blanks, tabs and line feeds only.
bool onlyBlanks(const QByteArray& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n';
    });
}

// Adds the characters left out of an element's text to the list (one entry per element name).
void noteLoss(XmlLosses* losses, const QByteArray& element, const QStringList& dropped) {
    if (!losses || dropped.isEmpty())
        return;
    auto it = std::find_if(losses->begin(), losses->end(),
                           [&](const XmlLoss& l) { return l.element == element; });
    if (it == losses->end()) {
        losses->push_back({element, dropped});
        return;
    }
    for (const QString& d : dropped)
        noteOnce(&it->characters, d);
}

// The printer of the XML files. Every text and attribute value comes out as an XML parser
// reads it back: a CR as "&#13;" (a parser reads a plain one as LF), in attribute values TAB
// and LF as references too (a parser reads them as blanks), the first character of a text of
// blanks only as a reference, and characters XML cannot hold left out and noted under their
// element's name. CDATA sections come out as escaped text.
class XmlFilePrinter : public tinyxml2::XMLPrinter {
  public:
    // Indented: a document, one element a line; Compact: one element's text alone.
    enum class Layout { Indented, Compact };

    XmlFilePrinter(Layout layout, XmlLosses* losses)
        : XMLPrinter(nullptr, layout == Layout::Compact),
          compact_(layout == Layout::Compact),
          losses_(losses) {}

    QByteArray Text() const { return QByteArray(CStr(), CStrSize() - 1); }

    void PushElementText(const QByteArray& element, const char* text) {
        mode_ = Mode::Text;
        element_ = element;
        // The XML library drops a text of blanks, tabs and line feeds only as it reads; begun
        // with a character reference, such a text is kept.
        const auto first = static_cast<unsigned char>(text[0]);
        QStringList dropped;
        const QByteArray kept = first > 0x20 && first < 0x80
                                    ? QByteArray()
                                    : keepXmlChars(text, qstrlen(text), &dropped);
        if (onlyBlanks(kept)) {
            noteLoss(losses_, element_, dropped);
            PushText("");  // ends the start tag
            const QByteArray out = "&#" + QByteArray::number(kept[0]) + ';' + kept.mid(1);
            XMLPrinter::Write(out.constData(), static_cast<size_t>(out.size()));
        } else {
            PushText(text);
        }
        mode_ = Mode::Markup;
    }

    // As the base printer does it, with the attribute values escaped.
    bool VisitEnter(const XMLElement& element, const XMLAttribute* attribute) override {
        const XMLElement* parent = element.Parent() ? element.Parent()->ToElement() : nullptr;
        OpenElement(element.Name(), parent ? CompactMode(*parent) : compact_);
        element_ = element.Name();
        for (; attribute; attribute = attribute->Next()) {
            mode_ = Mode::Attribute;
            PushAttribute(attribute->Name(), attribute->Value());
            mode_ = Mode::Markup;
        }
        return true;
    }
    using XMLPrinter::VisitEnter;

    bool Visit(const tinyxml2::XMLText& text) override {
        const XMLElement* parent = text.Parent() ? text.Parent()->ToElement() : nullptr;
        PushElementText(parent ? QByteArray(parent->Name()) : QByteArray(), text.Value());
        return true;
    }
    using XMLPrinter::Visit;

  protected:
    // Element texts and attribute values reach the buffer here, between the entities the
    // base printer writes itself.
    void Write(const char* data, size_t size) override {
        if (mode_ == Mode::Markup ||
            isPlainAscii(data, static_cast<qsizetype>(size), mode_ == Mode::Text ? "\t\n" : "")) {
            XMLPrinter::Write(data, size);
            return;
        }
        QStringList dropped;
        const QByteArray kept = keepXmlChars(data, static_cast<qsizetype>(size), &dropped);
        noteLoss(losses_, element_, dropped);
        QByteArray out;
        out.reserve(kept.size());
        for (const char c : kept) {
            if (c == '\r')
                out += "&#13;";
            else if (mode_ == Mode::Attribute && c == '\n')
                out += "&#10;";
            else if (mode_ == Mode::Attribute && c == '\t')
                out += "&#9;";
            else
                out += c;
        }
        XMLPrinter::Write(out.constData(), static_cast<size_t>(out.size()));
    }
    using XMLPrinter::Write;

  private:
    enum class Mode { Markup, Text, Attribute };
    Mode mode_ = Mode::Markup;
    bool compact_;
    QByteArray element_;
    XmlLosses* losses_;
};

QByteArray printDocument(const XMLDocument& doc, XmlLosses* losses) {
    XmlFilePrinter printer(XmlFilePrinter::Layout::Indented, losses);
    doc.Print(&printer);
    return printer.Text();
}

QByteArray elementName(PNumber p) {
    char name[16];
    const int len = std::snprintf(name, sizeof name, "P%d", p);
    return QByteArray(name, len);
}

// The P-number of a parameter element ("P" or "p" followed by a digit), or false.
bool parameterNumber(const XMLElement& element, PNumber* p) {
    const char* name = element.Name();
    if ((name[0] != 'P' && name[0] != 'p') || name[1] < '0' || name[1] > '9')
        return false;
    *p = LeadingPNumber(name + 1, static_cast<qsizetype>(std::strlen(name + 1)));
    return true;
}

// Sets an element's text to a value, leaving out (and noting) what XML cannot hold, a NUL
// byte included.
void setValue(XMLElement& e, const QByteArray& value, XmlLosses* losses) {
    if (isPlainAscii(value.constData(), value.size(), "\t\n\r")) {
        e.SetText(value.constData());
        return;
    }
    QStringList dropped;
    e.SetText(keepXmlChars(value.constData(), value.size(), &dropped).constData());
    noteLoss(losses, e.Name(), dropped);
}

void addParameter(XMLDocument& doc, XMLElement& config, PNumber p, const QByteArray& value,
                  XmlLosses* losses) {
    XMLElement* e = doc.NewElement(elementName(p).constData());
    setValue(*e, value, losses);
    config.InsertEndChild(e);
}

bool parse(XMLDocument& doc, const QByteArray& text) {
    return doc.Parse(text.constData(), static_cast<size_t>(text.size())) == tinyxml2::XML_SUCCESS;
}

bool loadFile(XMLDocument& doc, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return parse(doc, file.readAll());
}

XmlReadStatus readDocument(const XMLDocument& doc, ParameterSet& params) {
    params.Clear();
    const XMLElement* root = doc.FirstChildElement();
    const XMLElement* config = root ? root->FirstChildElement() : nullptr;
    if (!config || std::strcmp(config->Name(), "config") != 0)
        return XmlReadStatus::NoConfig;
    for (const XMLElement* e = config->FirstChildElement(); e; e = e->NextSiblingElement()) {
        PNumber p = 0;
        if (parameterNumber(*e, &p)) {
            const char* text = e->GetText();
            params.InsertFirst(p, text ? QByteArray(text) : QByteArray());
        }
    }
    return XmlReadStatus::Ok;
}

}  // namespace

QString XmlLossText(const XmlLosses& losses) {
    QStringList parts;
    for (const XmlLoss& l : losses)
        parts << QString::fromUtf8(l.element) + " " + l.characters.join(' ');
    return "characters XML cannot hold left out: " + parts.join("; ");
}

QByteArray XmlElementText(const QByteArray& element, const QByteArray& value, XmlLosses* losses) {
    QStringList dropped;
    const QByteArray kept = keepXmlChars(value.constData(), value.size(), &dropped);
    noteLoss(losses, element, dropped);
    XmlFilePrinter printer(XmlFilePrinter::Layout::Compact, nullptr);
    printer.PushElementText(element, kept.constData());
    return printer.Text();
}

QByteArray PrintXmlConfig(const ParameterSet& params, XmlLosses* losses) {
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    doc.InsertEndChild(doc.NewDeclaration());
    XMLElement* root = doc.NewElement("zv_provision");
    root->SetAttribute("version", "1");
    doc.InsertEndChild(root);
    XMLElement* config = doc.NewElement("config");
    config->SetAttribute("version", "1");
    root->InsertEndChild(config);
    for (const auto& [p, value] : params)
        addParameter(doc, *config, p, value, losses);
    return printDocument(doc, losses);
}

QByteArray EncryptedXmlBytes(QByteArray printed, const QByteArray& keyText) {
    const qsizetype n = printed.size() + 1;
    printed.append((n / 16 + 1) * 16 - printed.size(), '\0');
    QByteArray key = keyText.isEmpty() ? QByteArray(kDefaultXmlKey) : keyText;
    if (key.size() % 2 != 0)
        key += '0';
    return EncryptXmlBuffer(std::move(printed), key);
}

XmlReadStatus ParseXmlText(const QByteArray& text, ParameterSet& params) {
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!parse(doc, text))
        return XmlReadStatus::Unparsable;
    return readDocument(doc, params);
}

XmlReadStatus ReadXmlFile(const QString& path, ParameterSet& params) {
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!loadFile(doc, path))
        return XmlReadStatus::Unparsable;
    return readDocument(doc, params);
}

bool WriteXmlFile(const QString& path, const ParameterSet& params, XmlLosses* losses) {
    return WriteFileAtomically(path, PrintXmlConfig(params, losses));
}

bool WriteEncryptedXmlFile(const QString& path, const ParameterSet& params,
                           const QByteArray& keyText, XmlLosses* losses) {
    const QByteArray bytes = EncryptedXmlBytes(PrintXmlConfig(params, losses), keyText);
    return !bytes.isEmpty() && WriteFileAtomically(path, bytes);
}

XmlUpdateStatus UpdateXmlFile(const QString& path, ParameterSet& params, std::set<PNumber>& changed,
                              XmlLosses* losses) {
    if (!QFileInfo::exists(path))
        return WriteXmlFile(path, params, losses) ? XmlUpdateStatus::Created
                                                  : XmlUpdateStatus::CreateFailed;
    if (changed.empty())
        return XmlUpdateStatus::NoChanges;

    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!loadFile(doc, path))
        return XmlUpdateStatus::Refused;
    XMLElement* root = doc.FirstChildElement();
    XMLElement* config = root && std::strcmp(root->Name(), "zv_provision") == 0
                             ? root->FirstChildElement("config")
                             : nullptr;
    if (!config)
        return XmlUpdateStatus::Refused;

    // The backup beside the file while it is saved. A name the folder cannot take gets none:
    // the atomic replacement keeps the file as it was on failure all the same.
    const QString backup = path + "~";
    const bool backupFits = QFile::encodeName(QFileInfo(backup).fileName()).size() <=
                            FileNameLimit(QFileInfo(path).path());
    if (backupFits) {
        QFile::remove(backup);
        if (!QFile::copy(path, backup))
            return XmlUpdateStatus::Refused;
    }

    for (XMLElement* e = config->FirstChildElement(); e && !changed.empty();
         e = e->NextSiblingElement()) {
        PNumber p = 0;
        if (parameterNumber(*e, &p) && changed.erase(p)) {
            if (!params.Contains(p))
                params.Set(p, QByteArray());
            setValue(*e, *params.Find(p), losses);
        }
    }
    for (PNumber p : changed)
        addParameter(doc, *config, p, params.Value(p), losses);
    changed.clear();

    // The new text replaces the file atomically, so a failed save leaves it as it was.
    const bool saved = WriteFileAtomically(path, printDocument(doc, losses));
    if (backupFits)
        QFile::remove(backup);
    return saved ? XmlUpdateStatus::Updated : XmlUpdateStatus::SaveFailed;
}

#include "config/XmlFile.h"

#include "app/AtomicFile.h"
#include "config/CfgCrypto.h"

#include <QFile>
#include <QFileInfo>

#include <tinyxml2.h>

#include <cstdio>

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

QByteArray printDocument(const XMLDocument& doc) {
    tinyxml2::XMLPrinter printer(nullptr, false);
    doc.Print(&printer);
    return QByteArray(printer.CStr(), printer.CStrSize() - 1);
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

XMLElement* addParameter(XMLDocument& doc, XMLElement& config, PNumber p, const QByteArray& value) {
    XMLElement* e = doc.NewElement(elementName(p).constData());
    e->SetText(value.constData());
    config.InsertEndChild(e);
    return e;
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

QByteArray PrintXmlConfig(const ParameterSet& params) {
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    doc.InsertEndChild(doc.NewDeclaration());
    XMLElement* root = doc.NewElement("zv_provision");
    root->SetAttribute("version", "1");
    doc.InsertEndChild(root);
    XMLElement* config = doc.NewElement("config");
    config->SetAttribute("version", "1");
    root->InsertEndChild(config);
    for (const auto& [p, value] : params)
        addParameter(doc, *config, p, value);
    return printDocument(doc);
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

bool WriteXmlFile(const QString& path, const ParameterSet& params) {
    return WriteFileAtomically(path, PrintXmlConfig(params));
}

bool WriteEncryptedXmlFile(const QString& path, const ParameterSet& params,
                           const QByteArray& keyText) {
    const QByteArray bytes = EncryptedXmlBytes(PrintXmlConfig(params), keyText);
    return !bytes.isEmpty() && WriteFileAtomically(path, bytes);
}

XmlUpdateStatus UpdateXmlFile(const QString& path, ParameterSet& params,
                              std::set<PNumber>& changed) {
    if (!QFileInfo::exists(path))
        return WriteXmlFile(path, params) ? XmlUpdateStatus::Created
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

    const QString backup = path + "~";
    QFile::remove(backup);
    if (!QFile::copy(path, backup))
        return XmlUpdateStatus::Refused;

    for (XMLElement* e = config->FirstChildElement(); e && !changed.empty();
         e = e->NextSiblingElement()) {
        PNumber p = 0;
        if (parameterNumber(*e, &p) && changed.erase(p)) {
            if (!params.Contains(p))
                params.Set(p, QByteArray());
            e->SetText(params.Find(p)->constData());
        }
    }
    for (PNumber p : changed)
        addParameter(doc, *config, p, params.Value(p));
    changed.clear();

    // The new text replaces the file atomically, so a failed save leaves it as it was.
    const bool saved = WriteFileAtomically(path, printDocument(doc));
    QFile::remove(backup);
    return saved ? XmlUpdateStatus::Updated : XmlUpdateStatus::SaveFailed;
}

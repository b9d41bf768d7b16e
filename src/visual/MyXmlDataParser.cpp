#include "visual/MyXmlDataParser.h"

#include "app/AtomicFile.h"

#include <tinyxml2.h>
#include <QFile>

using tinyxml2::XMLElement;

namespace {

QString textAttr(const XMLElement* e, const char* name) {
    const char* v = e ? e->Attribute(name) : nullptr;
    return v ? QString::fromUtf8(v) : QString();
}

int intAttr(const XMLElement* e, const char* name) {
    return e ? e->IntAttribute(name, 0) : 0;
}

void setText(XMLElement* e, const char* name, const QString& v) {
    if (e)
        e->SetAttribute(name, v.toUtf8().constData());
}

void setInt(XMLElement* e, const char* name, int v) {
    if (e)
        e->SetAttribute(name, v);
}

}  // namespace

QString TXMLitemType::Class() const {
    return textAttr(e_, "class");
}
QString TXMLitemType::Id() const {
    return textAttr(e_, "id");
}
int TXMLitemType::Index() const {
    return intAttr(e_, "index");
}
int TXMLitemType::KeyValue() const {
    return intAttr(e_, "keyValue");
}
int TXMLitemType::Left() const {
    return intAttr(e_, "left");
}
int TXMLitemType::Top() const {
    return intAttr(e_, "top");
}
int TXMLitemType::Width() const {
    return intAttr(e_, "width");
}
int TXMLitemType::Height() const {
    return intAttr(e_, "height");
}
QString TXMLitemType::NormalImg() const {
    return textAttr(e_, "normalImg");
}
QString TXMLitemType::HoverImg() const {
    return textAttr(e_, "hoverImg");
}
QString TXMLitemType::SelectedImg() const {
    return textAttr(e_, "selectedImg");
}
void TXMLitemType::SetClass(const QString& v) {
    setText(e_, "class", v);
}
void TXMLitemType::SetId(const QString& v) {
    setText(e_, "id", v);
}
void TXMLitemType::SetIndex(int v) {
    setInt(e_, "index", v);
}
void TXMLitemType::SetKeyValue(int v) {
    setInt(e_, "keyValue", v);
}
void TXMLitemType::SetLeft(int v) {
    setInt(e_, "left", v);
}
void TXMLitemType::SetTop(int v) {
    setInt(e_, "top", v);
}
void TXMLitemType::SetWidth(int v) {
    setInt(e_, "width", v);
}
void TXMLitemType::SetHeight(int v) {
    setInt(e_, "height", v);
}
void TXMLitemType::SetNormalImg(const QString& v) {
    setText(e_, "normalImg", v);
}
void TXMLitemType::SetHoverImg(const QString& v) {
    setText(e_, "hoverImg", v);
}
void TXMLitemType::SetSelectedImg(const QString& v) {
    setText(e_, "selectedImg", v);
}

int TXMLkeysType::Count() const {
    int n = 0;
    for (const XMLElement* c = e_ ? e_->FirstChildElement("item") : nullptr; c;
         c = c->NextSiblingElement("item"))
        ++n;
    return n;
}

TXMLitemType TXMLkeysType::Item(int i) const {
    if (i < 0)
        return TXMLitemType(nullptr);
    XMLElement* c = e_ ? e_->FirstChildElement("item") : nullptr;
    for (; c && i > 0; --i)
        c = c->NextSiblingElement("item");
    return TXMLitemType(c);
}

TXMLitemType TXMLkeysType::Add() {
    if (!e_)
        return TXMLitemType(nullptr);
    return TXMLitemType(e_->InsertNewChildElement("item"));
}

QString TXMLbgType::Img() const {
    return textAttr(e_, "img");
}
void TXMLbgType::SetImg(const QString& v) {
    setText(e_, "img", v);
}

TXMLDeviceType::TXMLDeviceType() : doc_(std::make_unique<tinyxml2::XMLDocument>()) {}
TXMLDeviceType::~TXMLDeviceType() = default;

QString TXMLDeviceType::Vendor() const {
    return textAttr(root_, "vendor");
}
QString TXMLDeviceType::Model() const {
    return textAttr(root_, "model");
}
QString TXMLDeviceType::Version() const {
    return textAttr(root_, "version");
}
int TXMLDeviceType::HardLinekeyCount() const {
    return intAttr(root_, "hardLinekeyCount");
}
int TXMLDeviceType::Multipage() const {
    return intAttr(root_, "multipage");
}
QString TXMLDeviceType::BasePath() const {
    return textAttr(root_, "basePath");
}
void TXMLDeviceType::SetVendor(const QString& v) {
    setText(root_, "vendor", v);
}
void TXMLDeviceType::SetModel(const QString& v) {
    setText(root_, "model", v);
}
void TXMLDeviceType::SetVersion(const QString& v) {
    setText(root_, "version", v);
}
void TXMLDeviceType::SetHardLinekeyCount(int v) {
    setInt(root_, "hardLinekeyCount", v);
}
void TXMLDeviceType::SetMultipage(int v) {
    setInt(root_, "multipage", v);
}
void TXMLDeviceType::SetBasePath(const QString& v) {
    setText(root_, "basePath", v);
}

XMLElement* TXMLDeviceType::child(const char* name) const {
    return root_ ? root_->FirstChildElement(name) : nullptr;
}

TXMLbgType TXMLDeviceType::Bg() const {
    return TXMLbgType(child("bg"));
}
TXMLkeysType TXMLDeviceType::Keys() const {
    return TXMLkeysType(child("keys"));
}

QByteArray TXMLDeviceType::Print() const {
    tinyxml2::XMLPrinter printer;
    doc_->Print(&printer);
    return QByteArray(printer.CStr());
}

bool TXMLDeviceType::SaveTo(const QString& path) const {
    return WriteFileAtomically(path, Print());
}

std::unique_ptr<TXMLDeviceType> LoadDevice(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray text = file.readAll();
    std::unique_ptr<TXMLDeviceType> device(new TXMLDeviceType);
    if (device->doc_->Parse(text.constData(), static_cast<size_t>(text.size())) !=
        tinyxml2::XML_SUCCESS)
        return nullptr;
    XMLElement* root = device->doc_->RootElement();
    if (!root || qstrcmp(root->Name(), "Device") != 0)
        return nullptr;
    device->root_ = root;
    return device;
}

std::unique_ptr<TXMLDeviceType> NewDevice() {
    std::unique_ptr<TXMLDeviceType> device(new TXMLDeviceType);
    device->doc_->InsertEndChild(device->doc_->NewDeclaration());
    device->root_ = device->doc_->NewElement("Device");
    device->doc_->InsertEndChild(device->root_);
    device->root_->InsertNewChildElement("bg");
    device->root_->InsertNewChildElement("keys");
    return device;
}

#pragma once

#include <QString>
#include <memory>

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

// Data-binding classes of the picture map "map.xml": one per element type, a getter and a
// setter per attribute. A missing or malformed integer attribute reads as 0, a missing text
// attribute as the empty text. The element classes are light views into the document held
// by TXMLDeviceType; they stay valid while it lives.

// <item class id index keyValue left top width height normalImg hoverImg selectedImg/>
class TXMLitemType {
  public:
    explicit TXMLitemType(tinyxml2::XMLElement* element) : e_(element) {}
    QString Class() const;
    QString Id() const;
    int Index() const;
    int KeyValue() const;
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    QString NormalImg() const;
    QString HoverImg() const;
    QString SelectedImg() const;
    void SetClass(const QString& v);
    void SetId(const QString& v);
    void SetIndex(int v);
    void SetKeyValue(int v);
    void SetLeft(int v);
    void SetTop(int v);
    void SetWidth(int v);
    void SetHeight(int v);
    void SetNormalImg(const QString& v);
    void SetHoverImg(const QString& v);
    void SetSelectedImg(const QString& v);

  private:
    tinyxml2::XMLElement* e_;
};

// <keys>: a collection of "item" elements (other children are not part of it).
class TXMLkeysType {
  public:
    explicit TXMLkeysType(tinyxml2::XMLElement* element) : e_(element) {}
    int Count() const;
    // The i-th item (0-based); a view of nothing (null element) when out of range.
    TXMLitemType Item(int i) const;
    TXMLitemType Add();
    bool IsNull() const { return e_ == nullptr; }

  private:
    tinyxml2::XMLElement* e_;
};

// <bg img/>
class TXMLbgType {
  public:
    explicit TXMLbgType(tinyxml2::XMLElement* element) : e_(element) {}
    QString Img() const;
    void SetImg(const QString& v);
    bool IsNull() const { return e_ == nullptr; }

  private:
    tinyxml2::XMLElement* e_;
};

// The root <Device vendor model version hardLinekeyCount multipage basePath> with its "bg" and
// "keys" children; owns the document.
class TXMLDeviceType {
  public:
    ~TXMLDeviceType();
    TXMLDeviceType(const TXMLDeviceType&) = delete;
    TXMLDeviceType& operator=(const TXMLDeviceType&) = delete;

    QString Vendor() const;
    QString Model() const;
    QString Version() const;
    int HardLinekeyCount() const;
    int Multipage() const;
    QString BasePath() const;
    void SetVendor(const QString& v);
    void SetModel(const QString& v);
    void SetVersion(const QString& v);
    void SetHardLinekeyCount(int v);
    void SetMultipage(int v);
    void SetBasePath(const QString& v);

    // The first "bg" and "keys" children (views of nothing when absent).
    TXMLbgType Bg() const;
    TXMLkeysType Keys() const;

    // Writes the printed document, replacing the file atomically.
    bool SaveTo(const QString& path) const;
    QByteArray Print() const;

  private:
    friend std::unique_ptr<TXMLDeviceType> LoadDevice(const QString& path);
    friend std::unique_ptr<TXMLDeviceType> NewDevice();
    TXMLDeviceType();
    tinyxml2::XMLElement* child(const char* name) const;

    std::unique_ptr<tinyxml2::XMLDocument> doc_;
    tinyxml2::XMLElement* root_ = nullptr;
};

// The document at path; null when the file is missing, not well-formed or its root element
// is not "Device".
std::unique_ptr<TXMLDeviceType> LoadDevice(const QString& path);
// An empty "Device" document with "bg" and "keys" children.
std::unique_ptr<TXMLDeviceType> NewDevice();

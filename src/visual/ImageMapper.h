#pragma once

#include "visual/MyXmlDataParser.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// One image of a key area: the item's "index" attribute and the image's full path.
struct Tag_imgPath {
    int32_t index = 0;
    QString path;
};

// One key area in picture pixels; right = left + width, bottom = top + height.
struct Tag_KeyArea {
    int32_t index = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    // Both borders belong to the area.
    bool Contains(int x, int y) const { return left <= x && x <= right && top <= y && y <= bottom; }
};

// The picture map of the loaded model: the "Device" document and the tables built from it.
class ImageMapper {
  public:
    // The working directory, prefixed to every image path.
    void SetRootDir(const QString& dir) { rootDir_ = dir; }

    // Releases the previous document and tables, then reads the file: true when it exists and
    // is a "Device" document.
    bool LoadMap(const QString& path);
    // Fills the key areas and the three image tables from the document, in document order;
    // false (and nothing built) when no document is loaded.
    bool BuildTables();

    bool IsLoaded() const { return device_ != nullptr; }
    const TXMLDeviceType* Device() const { return device_.get(); }
    // The number of "item" elements of "keys"; -1 when no document is loaded.
    int KeyCount() const;
    // The tables; null when no document is loaded.
    const std::vector<Tag_KeyArea>* KeyAreas() const { return device_ ? &areas_ : nullptr; }
    const std::vector<Tag_imgPath>* NormalImages() const { return device_ ? &normal_ : nullptr; }
    const std::vector<Tag_imgPath>* HoverImages() const { return device_ ? &hover_ : nullptr; }
    const std::vector<Tag_imgPath>* SelectedImages() const {
        return device_ ? &selected_ : nullptr;
    }
    // The "bg" image's path; empty when no document is loaded.
    QString BackgroundPath() const;
    // The "id" of the item at a position; empty when no document is loaded or out of range.
    QString KeyId(int position) const;

    // The position of the first key area that contains the point, -1 when none does.
    int AreaAt(int x, int y) const;

    // The root directory + "basePath" + name, joined without a separator; backslashes of the
    // map are taken as directory separators.
    QString ImagePath(const QString& name) const;

  private:
    QString rootDir_;
    std::unique_ptr<TXMLDeviceType> device_;
    std::vector<Tag_KeyArea> areas_;
    std::vector<Tag_imgPath> normal_, hover_, selected_;
};

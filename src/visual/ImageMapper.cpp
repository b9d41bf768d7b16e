#include "visual/ImageMapper.h"

bool ImageMapper::LoadMap(const QString& path) {
    device_.reset();
    areas_.clear();
    normal_.clear();
    hover_.clear();
    selected_.clear();
    device_ = LoadDevice(path);
    return device_ != nullptr;
}

bool ImageMapper::BuildTables() {
    if (!device_)
        return false;
    areas_.clear();
    normal_.clear();
    hover_.clear();
    selected_.clear();
    const TXMLkeysType keys = device_->Keys();
    const int count = keys.Count();
    for (int i = 0; i < count; ++i) {
        const TXMLitemType item = keys.Item(i);
        Tag_KeyArea area;
        area.index = item.Index();
        area.left = item.Left();
        area.top = item.Top();
        // Wrap-around sums, as 32-bit values.
        area.right = static_cast<int32_t>(static_cast<uint32_t>(area.left) +
                                          static_cast<uint32_t>(item.Width()));
        area.bottom = static_cast<int32_t>(static_cast<uint32_t>(area.top) +
                                           static_cast<uint32_t>(item.Height()));
        areas_.push_back(area);
        normal_.push_back({area.index, ImagePath(item.NormalImg())});
        hover_.push_back({area.index, ImagePath(item.HoverImg())});
        selected_.push_back({area.index, ImagePath(item.SelectedImg())});
    }
    return true;
}

int ImageMapper::KeyCount() const {
    return device_ ? device_->Keys().Count() : -1;
}

QString ImageMapper::BackgroundPath() const {
    return device_ ? ImagePath(device_->Bg().Img()) : QString();
}

QString ImageMapper::KeyId(int position) const {
    return device_ ? device_->Keys().Item(position).Id() : QString();
}

int ImageMapper::AreaAt(int x, int y) const {
    for (size_t i = 0; i < areas_.size(); ++i)
        if (areas_[i].Contains(x, y))
            return static_cast<int>(i);
    return -1;
}

QString ImageMapper::ImagePath(const QString& name) const {
    QString relative = (device_ ? device_->BasePath() : QString()) + name;
    relative.replace('\\', '/');
    return rootDir_ + relative;
}

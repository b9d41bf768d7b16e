// libFuzzer target: the picture map "map.xml". The input is read as a model's map and turned
// into key areas and image tables; taken apart, it also gives a map that is written through the
// binding classes and read back.
#include "FuzzSupport.h"
#include "visual/ImageMapper.h"
#include "visual/MyXmlDataParser.h"

#include <algorithm>

using namespace fuzz;

namespace {

const QString kRoot = "/work/root";

void checkNothingLoaded(const ImageMapper& mapper) {
    FUZZ_CHECK(!mapper.IsLoaded() && mapper.KeyCount() == -1 && !mapper.KeyAreas());
    FUZZ_CHECK(!mapper.NormalImages() && !mapper.HoverImages() && !mapper.SelectedImages());
    FUZZ_CHECK(mapper.BackgroundPath().isEmpty() && mapper.KeyId(0).isEmpty());
}

QString expectedPath(const QString& basePath, const QString& name) {
    return kRoot + QString(basePath + name).replace('\\', '/');
}

void checkReading(const QString& path) {
    ImageMapper mapper;
    mapper.SetRootDir(kRoot);
    if (!mapper.LoadMap(path)) {
        checkNothingLoaded(mapper);
        FUZZ_CHECK(!mapper.BuildTables());
        return;
    }
    FUZZ_CHECK(mapper.BuildTables());
    const TXMLDeviceType& device = *mapper.Device();
    const int count = mapper.KeyCount();
    const std::vector<Tag_KeyArea>& areas = *mapper.KeyAreas();
    FUZZ_CHECK(count >= 0 && static_cast<int>(areas.size()) == count);
    FUZZ_CHECK(static_cast<int>(mapper.NormalImages()->size()) == count &&
               static_cast<int>(mapper.HoverImages()->size()) == count &&
               static_cast<int>(mapper.SelectedImages()->size()) == count);
    FUZZ_CHECK(mapper.BackgroundPath() == expectedPath(device.BasePath(), device.Bg().Img()));
    FUZZ_CHECK(device.Keys().Item(count).Id().isEmpty() && device.Keys().Item(-1).Left() == 0);
    for (int i = 0; i < count && i < 256; ++i) {
        const TXMLitemType item = device.Keys().Item(i);
        const Tag_KeyArea& area = areas[i];
        FUZZ_CHECK(area.index == item.Index() && area.left == item.Left() &&
                   area.top == item.Top());
        FUZZ_CHECK(static_cast<uint32_t>(area.right) ==
                   static_cast<uint32_t>(item.Left()) + static_cast<uint32_t>(item.Width()));
        FUZZ_CHECK(static_cast<uint32_t>(area.bottom) ==
                   static_cast<uint32_t>(item.Top()) + static_cast<uint32_t>(item.Height()));
        FUZZ_CHECK(mapper.KeyId(i) == item.Id());
        FUZZ_CHECK((*mapper.HoverImages())[i].path ==
                   expectedPath(device.BasePath(), item.HoverImg()));
        FUZZ_CHECK((*mapper.SelectedImages())[i].index == area.index);
        // A corner of an area finds it or an area before it that holds the point too.
        for (const auto& [x, y] : {std::pair{area.left, area.top}, {area.right, area.bottom}}) {
            const int at = mapper.AreaAt(x, y);
            if (area.Contains(x, y))
                FUZZ_CHECK(at >= 0 && at <= i);
            if (at >= 0)
                FUZZ_CHECK(areas[at].Contains(x, y));
            for (int before = 0; before < (at < 0 ? i : at); ++before)
                FUZZ_CHECK(!areas[before].Contains(x, y));
        }
    }
}

// Attribute texts of printable characters: the map's printer writes TAB, LF and CR as they
// are, which a parser reads as blanks.
QString takeText(FuzzedDataProvider& in) {
    const QByteArray text = takeBytes(in, 24);
    const bool printable =
        xmlCharacters(text) && std::none_of(text.begin(), text.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        });
    return QString::fromUtf8(printable ? text : QByteArray());
}

// What the setters store, a written map gives back; the written file is well-formed XML.
void checkWriting(FuzzedDataProvider& in) {
    const std::unique_ptr<TXMLDeviceType> device = NewDevice();
    device->SetVendor(takeText(in));
    device->SetModel(takeText(in));
    device->SetBasePath(takeText(in));
    device->SetMultipage(in.ConsumeIntegral<int>());
    device->Bg().SetImg(takeText(in));
    const int count = in.ConsumeIntegralInRange(0, 4);
    struct Key {
        QString id, hover;
        int left, width;
    };
    std::vector<Key> keys;
    for (int i = 0; i < count; ++i) {
        Key k{takeText(in), takeText(in), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()};
        TXMLitemType item = device->Keys().Add();
        item.SetId(k.id);
        item.SetHoverImg(k.hover);
        item.SetLeft(k.left);
        item.SetWidth(k.width);
        keys.push_back(k);
    }
    const QString path = scratchDir() + "/written-map.xml";
    FUZZ_CHECK(device->SaveTo(path));
    FUZZ_CHECK(xmlWellFormed(readFile(path)));

    const std::unique_ptr<TXMLDeviceType> read = LoadDevice(path);
    FUZZ_CHECK(read != nullptr);
    FUZZ_CHECK(read->Vendor() == device->Vendor() && read->Model() == device->Model());
    FUZZ_CHECK(read->BasePath() == device->BasePath() && read->Multipage() == device->Multipage());
    FUZZ_CHECK(read->Bg().Img() == device->Bg().Img());
    FUZZ_CHECK(read->Keys().Count() == count);
    for (int i = 0; i < count; ++i) {
        const TXMLitemType item = read->Keys().Item(i);
        FUZZ_CHECK(item.Id() == keys[i].id && item.HoverImg() == keys[i].hover);
        FUZZ_CHECK(item.Left() == keys[i].left && item.Width() == keys[i].width);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = scratchDir() + "/map.xml";
    FUZZ_CHECK(writeFile(path, bytes(data, size)));
    checkReading(path);
    FuzzedDataProvider in(data, size);
    checkWriting(in);
    return 0;
}

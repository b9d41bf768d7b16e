#include "visual/ImageMapper.h"

#include "support//TempDir.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const char* kMap = R"(<?xml version="1.0" encoding="UTF-8"?>
<Device vendor="Orvo" model="T1" version="1" hardLinekeyCount="2" multipage="0" basePath="\models\T1\dev\">
  <bg img="bg.png"/>
  <keys>
    <item class="line" id="LineKey1" index="7" keyValue="1" left="10" top="20" width="30" height="40"
          normalImg="n1.png" hoverImg="h1.png" selectedImg="s1.png"/>
    <!-- a comment and a stray element are not key areas -->
    <other/>
    <item class="line" id="LineKey2" index="8" keyValue="2" left="30" top="50" width="30" height="10"
          normalImg="n2.png" hoverImg="h2.png" selectedImg="s2.png"/>
  </keys>
</Device>)";

}  // namespace

TEST(ImageMapper, BuildsTheTablesOfAMap) {
    TempDir dir;
    ImageMapper mapper;
    mapper.SetRootDir("/work");
    ASSERT_TRUE(mapper.LoadMap(dir.write("map.xml", kMap)));
    ASSERT_TRUE(mapper.BuildTables());
    EXPECT_EQ(mapper.KeyCount(), 2);
    ASSERT_EQ(mapper.KeyAreas()->size(), 2u);
    const Tag_KeyArea& a = mapper.KeyAreas()->at(0);
    EXPECT_EQ(a.index, 7);
    EXPECT_EQ(a.left, 10);
    EXPECT_EQ(a.top, 20);
    EXPECT_EQ(a.right, 40);
    EXPECT_EQ(a.bottom, 60);
    EXPECT_EQ(mapper.HoverImages()->at(1).path, "/work/models/T1/dev/h2.png");
    EXPECT_EQ(mapper.HoverImages()->at(1).index, 8);
    EXPECT_EQ(mapper.SelectedImages()->at(0).path, "/work/models/T1/dev/s1.png");
    EXPECT_EQ(mapper.NormalImages()->at(0).path, "/work/models/T1/dev/n1.png");
    EXPECT_EQ(mapper.BackgroundPath(), "/work/models/T1/dev/bg.png");
    EXPECT_EQ(mapper.KeyId(1), "LineKey2");
    EXPECT_EQ(mapper.KeyId(2), "");
    EXPECT_EQ(mapper.Device()->Vendor(), "Orvo");
    EXPECT_EQ(mapper.Device()->HardLinekeyCount(), 2);
}

TEST(ImageMapper, HitTestingCountsBothBordersAndTheFirstAreaWins) {
    TempDir dir;
    ImageMapper mapper;
    ASSERT_TRUE(mapper.LoadMap(dir.write("map.xml", kMap)));
    ASSERT_TRUE(mapper.BuildTables());
    const struct {
        int x, y, area;
    } cases[] = {
        {10, 20, 0},  {40, 60, 0},  {9, 20, -1},
        {41, 30, -1}, {40, 61, -1}, {35, 55, 0},  // inside both: the earlier area
        {60, 60, 1},  {45, 49, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mapper.AreaAt(c.x, c.y), c.area) << c.x << "," << c.y;
}

TEST(ImageMapper, MapsThatCannotBeLoadedLeaveNoTables) {
    TempDir dir;
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"missing.xml", nullptr},
        {"broken.xml", "<Device><keys>"},
        {"other.xml", "<Phone basePath=\"/\"><bg img=\"x\"/></Phone>"},
        {"empty.xml", ""},
    };
    for (const auto& c : cases) {
        ImageMapper mapper;
        ASSERT_TRUE(mapper.LoadMap(dir.write("good.xml", kMap)));
        const QString path = c.text ? dir.write(c.name, c.text) : dir.file(c.name);
        EXPECT_FALSE(mapper.LoadMap(path)) << c.name;
        EXPECT_FALSE(mapper.BuildTables()) << c.name;
        EXPECT_EQ(mapper.KeyCount(), -1) << c.name;
        EXPECT_EQ(mapper.KeyAreas(), nullptr) << c.name;
        EXPECT_EQ(mapper.HoverImages(), nullptr) << c.name;
        EXPECT_EQ(mapper.BackgroundPath(), "") << c.name;
        EXPECT_EQ(mapper.KeyId(0), "") << c.name;
        EXPECT_EQ(mapper.AreaAt(20, 30), -1) << c.name;
    }
}

TEST(MyXmlDataParser, WrittenDocumentReadsBackAndIsWellFormed) {
    TempDir dir;
    auto device = NewDevice();
    device->SetVendor("V\xC3\xA9");
    device->SetModel("M & <1>");
    device->SetBasePath("/models/M/dev/");
    device->SetMultipage(1);
    device->Bg().SetImg("bg.png");
    TXMLitemType item = device->Keys().Add();
    item.SetId("Keypad");
    item.SetClass("pad");
    item.SetLeft(-5);
    item.SetWidth(100);
    item.SetHoverImg("h.png");
    const QString path = dir.file("map.xml");
    ASSERT_TRUE(device->SaveTo(path));
    EXPECT_EQ(RunProgram("xmllint", {"--noout", path}), 0);

    const auto read = LoadDevice(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Vendor(), QString::fromUtf8("V\xC3\xA9"));
    EXPECT_EQ(read->Model(), "M & <1>");
    EXPECT_EQ(read->Multipage(), 1);
    EXPECT_EQ(read->Bg().Img(), "bg.png");
    ASSERT_EQ(read->Keys().Count(), 1);
    EXPECT_EQ(read->Keys().Item(0).Id(), "Keypad");
    EXPECT_EQ(read->Keys().Item(0).Left(), -5);
    EXPECT_EQ(read->Keys().Item(0).Top(), 0);  // missing integer
    EXPECT_EQ(read->Keys().Item(0).SelectedImg(), "");
    EXPECT_TRUE(read->Keys().Item(1).Id().isEmpty());
}

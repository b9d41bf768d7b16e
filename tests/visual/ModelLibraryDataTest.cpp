// The model library shipped in data/: every model's descriptions, picture map and template
// are read by the program's own readers and must fit together.
#include "app/KeyHash.h"
#include "config/BinFile.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"
#include "visual/CfgOutline.h"
#include "visual/DescriptionCache.h"
#include "visual/ImageMapper.h"
#include "visual/ModelLibrary.h"
#include "visual/PageDescription.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <set>

namespace {

QString dataDir() {
    return SourcePath("data");
}

struct Features {
    bool group = false, section = false, combo = false, edit = false, label = false,
         address = false;
};

// Reads every page of the outline; gives the parameters bound on them.
std::set<PNumber> readPages(const QString& model, Features& seen) {
    RecordingDialogs dialogs;
    CfgOutline outline;
    const QString jsonDir = ModelJsonDir(dataDir(), model);
    EXPECT_TRUE(outline.Load(jsonDir, dialogs)) << model.toStdString();
    // One distinct picture key per node: key positions are node indexes.
    EXPECT_EQ(outline.PictureKeys().Count(), outline.NodeCount()) << model.toStdString();
    DescriptionCache cache;
    std::set<PNumber> bound;
    for (const CfgOutline::Node& node : outline.Nodes()) {
        if (node.reference.isEmpty())
            continue;
        seen.section |= node.reference.contains('?');
        const cJSON* page = ResolvePage(node.reference, jsonDir, cache, dialogs);
        EXPECT_NE(page, nullptr) << node.reference.toStdString();
        const PageDescription description = DescribePage(page, dialogs);
        EXPECT_FALSE(description.stopped);
        for (const PageItem& item : description.items) {
            seen.group |= item.groupCaption;
            seen.label |= item.kind == ViewKind::Label;
            seen.edit |= item.kind == ViewKind::Edit;
            seen.address |= item.address;
            if (item.kind == ViewKind::ComboBox) {
                seen.combo |= !item.values.empty();
                EXPECT_EQ(item.choices.size(), static_cast<qsizetype>(item.values.size()))
                    << item.caption.toStdString();
            }
            if (item.kind == ViewKind::Edit || item.kind == ViewKind::ComboBox) {
                EXPECT_TRUE(item.bindable) << item.caption.toStdString();
                for (int n = 0; n < (item.address ? 4 : 1); ++n) {
                    PNumber p = 0;
                    if (item.BoundNumber(n, &p))
                        EXPECT_TRUE(bound.insert(p).second)
                            << model.toStdString() << ": P" << p << " shown twice";
                }
            }
        }
    }
    EXPECT_EQ(dialogs.messages(), QStringList{}) << model.toStdString();
    return bound;
}

void expectTemplateHolds(const QString& path, const std::set<PNumber>& bound) {
    ParameterSet params;
    ASSERT_EQ(ReadBinFile(path, params), BinReadStatus::Ok) << path.toStdString();
    for (const char* placeholder :
         {"{$cfg_srv_path}", "{$fw_srv_path}", "{$username.line.1}", "{$admin_pass}"})
        EXPECT_GE(params.FindParameterByValue(placeholder), 0) << placeholder;
    for (PNumber p : bound)
        EXPECT_TRUE(params.Contains(p)) << path.toStdString() << ": P" << p;
}

}  // namespace

TEST(ModelLibraryData, TheModelsAreListed) {
    EXPECT_EQ(ListModels(dataDir()), (QStringList{"X100", "X210"}));
}

TEST(ModelLibraryData, EveryPageReadsAndTheTemplatesHoldItsParameters) {
    for (const QString model : {"X100", "X210", ""}) {
        Features seen;
        const std::set<PNumber> bound = readPages(model, seen);
        EXPECT_GT(bound.size(), 30u);
        EXPECT_TRUE(seen.group && seen.section && seen.combo && seen.edit && seen.label &&
                    seen.address)
            << model.toStdString();
        expectTemplateHolds(ModelTemplatePath(dataDir(), model), bound);
    }
}

TEST(ModelLibraryData, PictureMapsCoverTheKeysWithTheirImages) {
    for (const QString model : {"X100", "X210"}) {
        RecordingDialogs dialogs;
        CfgOutline outline;
        ASSERT_TRUE(outline.Load(ModelJsonDir(dataDir(), model), dialogs));
        ImageMapper mapper;
        mapper.SetRootDir(dataDir());
        ASSERT_TRUE(mapper.LoadMap(ModelMapPath(dataDir(), model))) << model.toStdString();
        ASSERT_TRUE(mapper.BuildTables());
        const QImage background(mapper.BackgroundPath());
        EXPECT_EQ(background.size(), QSize(500, 550));

        int lineKeys = 0;
        QStringList classes;
        for (int i = 0; i < mapper.KeyCount(); ++i) {
            const Tag_KeyArea& area = mapper.KeyAreas()->at(i);
            const QSize size(area.right - area.left, area.bottom - area.top);
            EXPECT_TRUE(QRect(0, 0, 500, 550).contains(QRect(QPoint(area.left, area.top), size)));
            for (const auto* table :
                 {mapper.NormalImages(), mapper.HoverImages(), mapper.SelectedImages()})
                EXPECT_EQ(QImage(table->at(i).path).size(), size)
                    << table->at(i).path.toStdString();
            const int node = outline.PictureKeyPosition(mapper.KeyId(i).toUtf8());
            EXPECT_GE(node, 0) << mapper.KeyId(i).toStdString();
            EXPECT_LT(node, outline.NodeCount());
            lineKeys += mapper.KeyId(i).startsWith("LineKey");
            classes << mapper.Device()->Keys().Item(i).Class();
        }
        EXPECT_EQ(lineKeys, mapper.Device()->HardLinekeyCount());
        EXPECT_TRUE(classes.contains("screen") && classes.contains("keypad"))
            << model.toStdString();
    }
}

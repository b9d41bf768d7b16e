// A user's walk through the shipped model library, on a copy of data/.
#include "visual/ui/EditorFixture.h"

#include "visual/ui/ConfigEditorPanel.h"
#include "visual/ui/PictureMapView.h"

#include <QDirIterator>
#include <QLineEdit>
#include <QTest>

namespace {

void copyTree(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        ASSERT_TRUE(QFile::copy(file, target)) << target.toStdString();
    }
}

class ShippedLibrary : public ::testing::Test {
  protected:
    ShippedLibrary() : tpl(&dialogs, nullptr) {
        copyTree(SourcePath("data"), dir.path());
        editor = std::make_unique<VisualEditor>(ui.controls(), &tpl, &dialogs, dir.path());
        editor->FillModelList();
        ui.window.show();
    }
    TempDir dir;
    RecordingDialogs dialogs;
    CfgTemplate tpl;
    EditorControls ui;
    std::unique_ptr<VisualEditor> editor;
};

}  // namespace

TEST_F(ShippedLibrary, PickAModelClickALineKeyEditAndSave) {
    editor->PhoneCfgTabShow();
    ui.models->setCurrentIndex(1);
    emit ui.models->activated(1);
    ASSERT_EQ(ui.models->currentText(), "X210");
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.messages().join(";").toStdString();
    EXPECT_EQ(ui.visualDevImg->pixmap().size(), QSize(500, 550));

    // Line key 5 sits right of the screen.
    editor->visualDevImgMouseMove(420, 60);
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    editor->reactFloatImageMouseDown();
    editor->reactFloatImageMouseUp();
    ASSERT_EQ(ui.tree->currentItem()->text(0), "Line Key 5");
    EXPECT_TRUE(ui.tree->currentItem()->parent()->isExpanded());

    QLineEdit* label = nullptr;
    for (QObject* child : ui.box->widget()->children()) {
        auto* edit = qobject_cast<QLineEdit*>(child);
        if (edit && edit->pos() == QPoint(300, 62))
            label = edit;
    }
    ASSERT_NE(label, nullptr);
    QTest::keyClicks(label, "Reception");
    ui.saveButton->click();
    EXPECT_FALSE(ui.saveButton->isEnabled());

    QByteArray out;
    ASSERT_EQ(
        RunProgram(BuiltProgram("orvo-cli"), {"show", dir.file("models/X210/$devCfg.bin")}, &out),
        0);
    EXPECT_TRUE(out.contains("\nP643=Reception\n"));
    EXPECT_TRUE(out.contains("\nP400={$cfg_srv_path}\n"));
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.messages().join(";").toStdString();
}

TEST_F(ShippedLibrary, EveryKeyOfEveryModelOpensItsNode) {
    editor->PhoneCfgTabShow();
    for (int model = 0; model < ui.models->count(); ++model) {
        ui.models->setCurrentIndex(model);
        emit ui.models->activated(model);
        const ImageMapper* mapper = editor->Mapper();
        for (int key = 0; key < mapper->KeyCount(); ++key) {
            const Tag_KeyArea& a = mapper->KeyAreas()->at(key);
            editor->visualDevImgMouseMove(-1, -1);
            editor->visualDevImgMouseMove(a.left + 1, a.top + 1);
            ASSERT_EQ(editor->PictureView()->Hovered(), key);
            editor->reactFloatImageMouseDown();
            editor->reactFloatImageMouseUp();
            EXPECT_EQ(editor->Outline().PictureKeyPosition(mapper->KeyId(key).toUtf8()),
                      editor->SelectedNode());
        }
    }
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.messages().join(";").toStdString();
}

#include "visual/ui/EditorFixture.h"

#include "visual/ui/ConfigEditorPanel.h"
#include "visual/ui/PictureMapView.h"

#include <QLineEdit>
#include <QTest>
#include <QWindow>

namespace {

class PictureMap : public EditorTest {
  protected:
    PictureMap() { editor->PhoneCfgTabShow(); }
    PictureMapView& view() { return *editor->PictureView(); }
};

}  // namespace

TEST_F(PictureMap, HoverShowsTheOverlayOverTheAreaWithBothBordersInside) {
    ASSERT_TRUE(dialogs.shown.isEmpty());
    editor->visualDevImgMouseMove(40, 40);  // the right-bottom corner of the first area
    EXPECT_EQ(view().Hovered(), 0);
    EXPECT_TRUE(view().Hovering());
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    EXPECT_EQ(ui.reactFloatImage->geometry(), QRect(10, 20, 30, 20));
    EXPECT_EQ(ui.reactFloatImage->pixmap().toImage().pixelColor(0, 0), QColor(Qt::yellow));
    EXPECT_EQ(ui.visualDevImg->cursor().shape(), Qt::PointingHandCursor);

    // Into the adjacent area: hovering ends first, the next movement takes it up.
    editor->visualDevImgMouseMove(41, 30);
    EXPECT_FALSE(view().Hovering());
    EXPECT_EQ(view().Hovered(), -1);
    EXPECT_FALSE(ui.reactFloatImage->isVisible());
    EXPECT_EQ(ui.visualDevImg->cursor().shape(), Qt::ArrowCursor);
    editor->visualDevImgMouseMove(41, 30);
    EXPECT_EQ(view().Hovered(), 1);
    EXPECT_EQ(ui.reactFloatImage->geometry(), QRect(41, 20, 30, 20));

    // Outside every area nothing changes.
    editor->visualDevImgMouseMove(300, 300);
    editor->visualDevImgMouseMove(300, 300);
    EXPECT_EQ(view().Hovered(), -1);
}

TEST_F(PictureMap, AClickSelectsTheKeyAndOpensItsOutlineNode) {
    editor->visualDevImgMouseMove(20, 30);
    editor->reactFloatImageMouseDown();
    EXPECT_FALSE(ui.reactFloatImage->isVisible());
    ASSERT_TRUE(ui.selectedFloatImage->isVisible());
    EXPECT_EQ(ui.selectedFloatImage->geometry(), QRect(10, 20, 30, 20));
    EXPECT_EQ(ui.selectedFloatImage->pixmap().toImage().pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(view().Selected(), 0);

    editor->reactFloatImageMouseUp();
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(editor->SelectedNode(), 2);  // "Account1" is the node of "account.json?Account1"
    EXPECT_TRUE(ui.tree->topLevelItem(1)->isExpanded());
    EXPECT_EQ(editor->Panel()->Node(), 2);

    // The selected area does not react again.
    editor->visualDevImgMouseMove(300, 300);
    editor->visualDevImgMouseMove(20, 30);
    EXPECT_FALSE(ui.reactFloatImage->isVisible());

    // Ids are lower-cased: "ACCOUNT2" opens "account.json?Account2".
    editor->visualDevImgMouseMove(300, 300);
    editor->visualDevImgMouseMove(50, 30);
    editor->reactFloatImageMouseDown();
    editor->reactFloatImageMouseUp();
    EXPECT_EQ(editor->SelectedNode(), 3);
    EXPECT_EQ(view().Selected(), 1);
}

TEST_F(PictureMap, KeysWithoutHoverImageOrOutlineNode) {
    // No hover image: no overlay, so the key cannot be clicked through its overlay.
    editor->visualDevImgMouseMove(20, 120);
    EXPECT_EQ(view().Hovered(), 2);
    EXPECT_FALSE(ui.reactFloatImage->isVisible());

    editor->visualDevImgMouseMove(300, 300);
    editor->visualDevImgMouseMove(110, 110);
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    editor->reactFloatImageMouseDown();
    editor->reactFloatImageMouseUp();
    EXPECT_EQ(dialogs.messages(), QStringList{"LVisualDevError2"});
    EXPECT_EQ(editor->SelectedNode(), -1);

    // Without a hovered key the overlay handlers do nothing.
    dialogs.clear();
    editor->visualDevImgMouseMove(300, 300);
    editor->reactFloatImageMouseDown();
    editor->reactFloatImageMouseUp();
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(PictureMap, RealPointerEventsReachTheHandlers) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ui.window));
    QTest::mouseMove(ui.visualDevImg, QPoint(25, 25));
    QMouseEvent move(QEvent::MouseMove, QPointF(25, 25),
                     ui.visualDevImg->mapToGlobal(QPointF(25, 25)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(ui.visualDevImg, &move);
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    QTest::mousePress(ui.reactFloatImage, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(ui.selectedFloatImage->isVisible());
    // A release handed to the control now under the pointer ends the press as well.
    QTest::mouseRelease(ui.selectedFloatImage, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(editor->SelectedNode(), 2);
    EXPECT_NE(editor->Panel()->Content(), nullptr);
}

// Pointer events through the window, so that each reaches the control under the pointer as
// it would on a screen. The page stands at y = 32 in the window.
class PictureMapPointer : public PictureMap {
  protected:
    PictureMapPointer() {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&ui.window));
        // A movement to where the pointer already is reaches no control: start elsewhere.
        QTest::mouseMove(window(), onPage(499, 549));
    }
    QWindow* window() { return ui.window.windowHandle(); }
    static QPoint onPage(int x, int y) { return QPoint(x, y + 32); }
};

TEST_F(PictureMapPointer, AReleaseOffThePictureEndsThePress) {
    QTest::mouseMove(window(), onPage(25, 30));
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    QTest::mousePress(window(), Qt::LeftButton, {}, onPage(25, 30));
    EXPECT_EQ(view().Selected(), 0);
    // Released over the outline tree: the press ends there as it would over the picture.
    QTest::mouseRelease(window(), Qt::LeftButton, {}, onPage(600, 300));
    EXPECT_EQ(editor->SelectedNode(), 2);

    // A later click on a key without a hover image selects nothing.
    QTest::mouseMove(window(), onPage(20, 120));  // hovering of the first key ends
    QTest::mouseMove(window(), onPage(21, 121));
    EXPECT_EQ(view().Hovered(), 2);
    EXPECT_FALSE(ui.reactFloatImage->isVisible());
    QTest::mouseClick(window(), Qt::LeftButton, {}, onPage(21, 121));
    EXPECT_EQ(editor->SelectedNode(), 2);
    EXPECT_EQ(view().Selected(), 0);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(PictureMapPointer, MovingAndClickingOnTheSelectedKeyDoesNothing) {
    QTest::mouseMove(window(), onPage(25, 30));
    ASSERT_TRUE(ui.reactFloatImage->isVisible());
    QTest::mouseClick(window(), Qt::LeftButton, {}, onPage(25, 30));
    ASSERT_EQ(editor->SelectedNode(), 2);
    ASSERT_TRUE(ui.selectedFloatImage->isVisible());
    ui.tree->setCurrentItem(editor->NodeItem(0));

    QTest::mouseMove(window(), onPage(300, 300));  // hovering ends
    // The right and bottom borders belong to the area but lie beside its overlay, so the
    // picture sees these movements; the selected key is not taken up.
    for (const QPoint p : {onPage(40, 30), onPage(25, 40), onPage(40, 40)}) {
        QTest::mouseMove(window(), p);
        EXPECT_FALSE(view().Hovering());
        EXPECT_EQ(view().Hovered(), -1);
        EXPECT_EQ(ui.visualDevImg->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(window(), Qt::LeftButton, {}, p);
        EXPECT_EQ(editor->SelectedNode(), 0);
    }
    // On the overlay itself.
    QTest::mouseMove(window(), onPage(26, 31));
    QTest::mouseClick(window(), Qt::LeftButton, {}, onPage(26, 31));
    EXPECT_EQ(editor->SelectedNode(), 0);
    EXPECT_TRUE(dialogs.shown.isEmpty());

    // Direct handler calls follow the same rule.
    editor->visualDevImgMouseMove(20, 30);
    EXPECT_FALSE(view().Hovering());
}

TEST_F(PictureMap, AnotherModelAndBackResetsThePicture) {
    editor->visualDevImgMouseMove(20, 30);
    editor->reactFloatImageMouseDown();
    ui.models->setCurrentIndex(1);
    emit ui.models->activated(1);
    EXPECT_EQ(view().Hovered(), -1);
    EXPECT_EQ(view().Selected(), -1);
    EXPECT_FALSE(ui.reactFloatImage->isVisible());
    EXPECT_FALSE(ui.selectedFloatImage->isVisible());
    EXPECT_EQ(editor->Mapper()->KeyCount(), 4);
    ui.models->setCurrentIndex(0);
    emit ui.models->activated(0);
    EXPECT_EQ(view().Selected(), -1);
    EXPECT_FALSE(ui.selectedFloatImage->isVisible());
}

#include "visual/ui/PictureMapView.h"

#include "visual/ImageMapper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>

PictureMapView::PictureMapView(QLabel* visualDevImg, QLabel* reactFloatImage,
                               QLabel* selectedFloatImage, QObject* parent)
    : QObject(parent),
      img_(visualDevImg),
      hoverOverlay_(reactFloatImage),
      selectedOverlay_(selectedFloatImage) {
    for (QLabel* label : {visualDevImg, reactFloatImage, selectedFloatImage}) {
        // Pictures unscaled from the top-left corner, clipped to the control.
        label->setScaledContents(false);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setContentsMargins(0, 0, 0, 0);
        label->setIndent(0);
        label->installEventFilter(this);
    }
    img_->setMouseTracking(true);
    hoverOverlay_->setCursor(Qt::PointingHandCursor);
    hoverOverlay_->hide();
    selectedOverlay_->hide();
    hoverOverlay_->raise();
    selectedOverlay_->raise();
}

PictureMapView::~PictureMapView() {
    endPress();
    for (QLabel* label : {img_.data(), hoverOverlay_.data(), selectedOverlay_.data()})
        if (label)
            label->removeEventFilter(this);
}

void PictureMapView::reset() {
    endPress();
    hovered_ = selected_ = -1;
    hovering_ = false;
    images_.clear();
    hoverOverlay_->hide();
    selectedOverlay_->hide();
    img_->unsetCursor();
}

bool PictureMapView::Show(const ImageMapper* mapper) {
    mapper_ = mapper;
    reset();
    const QString background = mapper ? mapper->BackgroundPath() : QString();
    const QPixmap picture = background.isEmpty() ? QPixmap() : image(background);
    if (picture.isNull()) {
        img_->clear();
        return false;
    }
    img_->setPixmap(picture);
    return true;
}

void PictureMapView::Clear() {
    mapper_ = nullptr;
    reset();
    img_->clear();
}

QPixmap PictureMapView::image(const QString& path) {
    const auto found = images_.constFind(path);
    if (found != images_.constEnd())
        return *found;
    QPixmap pixmap;
    if (QFileInfo(path).isFile())
        pixmap.load(path);
    images_.insert(path, pixmap);
    return pixmap;
}

void PictureMapView::placeOverlay(QLabel* overlay, int area, const QString& imagePath) {
    const Tag_KeyArea& a = mapper_->KeyAreas()->at(area);
    QWidget* parent = overlay->parentWidget();
    const QPoint topLeft = parent && img_->parentWidget() != parent
                               ? img_->mapTo(parent, QPoint(a.left, a.top))
                               : img_->pos() + QPoint(a.left, a.top);
    overlay->setGeometry(topLeft.x(), topLeft.y(), a.right - a.left, a.bottom - a.top);
    overlay->setPixmap(image(imagePath));
    overlay->show();
    overlay->raise();
    if (overlay == hoverOverlay_ && selectedOverlay_->isVisible())
        selectedOverlay_->raise();
}

void PictureMapView::visualDevImgMouseMove(int x, int y) {
    if (!mapper_ || !mapper_->KeyAreas())
        return;
    const std::vector<Tag_KeyArea>& areas = *mapper_->KeyAreas();
    if (hovering_) {
        if (hovered_ >= 0 && hovered_ < static_cast<int>(areas.size()) &&
            areas[hovered_].Contains(x, y))
            return;
        img_->unsetCursor();
        if (hovered_ != selected_)
            hoverOverlay_->hide();
        hovering_ = false;
        hovered_ = -1;
        return;
    }
    const int area = mapper_->AreaAt(x, y);
    // Over the selected area its overlay takes the pointer.
    if (area < 0 || (area == selected_ && !selectedOverlay_->isHidden()))
        return;
    hovered_ = area;
    img_->setCursor(Qt::PointingHandCursor);
    const QString hoverPath = mapper_->HoverImages()->at(area).path;
    if (area != selected_ && !image(hoverPath).isNull())
        placeOverlay(hoverOverlay_, area, hoverPath);
    hovering_ = true;
}

void PictureMapView::reactFloatImageMouseDown() {
    if (hovered_ < 0 || !mapper_ || !mapper_->SelectedImages())
        return;
    hoverOverlay_->hide();
    placeOverlay(selectedOverlay_, hovered_, mapper_->SelectedImages()->at(hovered_).path);
    selected_ = hovered_;
}

void PictureMapView::reactFloatImageMouseUp() {
    if (hovered_ < 0)
        return;
    hoverOverlay_->hide();
    emit keyReleased(hovered_);
}

void PictureMapView::beginPress() {
    pressed_ = true;
    // The press hides the control it went to, so its release reaches no control: it is
    // watched for wherever it comes, the window included.
    QCoreApplication::instance()->installEventFilter(this);
}

void PictureMapView::endPress() {
    if (!pressed_)
        return;
    pressed_ = false;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool PictureMapView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
            if (watched == img_ && !pressed_) {
                const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
                visualDevImgMouseMove(p.x(), p.y());
            }
            break;
        case QEvent::MouseButtonPress:
            if (pressed_) {
                // The release of the last press was lost (another program took the pointer).
                endPress();
            } else if (watched == hoverOverlay_) {
                beginPress();
                reactFloatImageMouseDown();
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            // A release anywhere ends the press. The window's own event goes on to the window.
            if (pressed_) {
                endPress();
                reactFloatImageMouseUp();
                return watched->isWidgetType();
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

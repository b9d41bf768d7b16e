#pragma once

#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QPointer>

class ImageMapper;
class QLabel;

// Drives the device picture and its two overlays: the background label shows the picture,
// the hover overlay the image of the key under the pointer, the selected overlay the image
// of the key last pressed. The overlays must be siblings stacked above the picture.
class PictureMapView : public QObject {
    Q_OBJECT
  public:
    PictureMapView(QLabel* visualDevImg, QLabel* reactFloatImage, QLabel* selectedFloatImage,
                   QObject* parent = nullptr);
    ~PictureMapView() override;

    // Takes up a loaded map (or none): hovered = selected = -1, both overlays hidden, the
    // background shown. False when the background image is missing (the picture is cleared).
    bool Show(const ImageMapper* mapper);
    // Forgets the map: picture cleared, overlays hidden.
    void Clear();

    void visualDevImgMouseMove(int x, int y);
    void reactFloatImageMouseDown();
    void reactFloatImageMouseUp();

    int Hovered() const { return hovered_; }
    int Selected() const { return selected_; }
    bool Hovering() const { return hovering_; }

  signals:
    // A key was released on its hover overlay: its position in the key area table.
    void keyReleased(int position);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void placeOverlay(QLabel* overlay, int area, const QString& imagePath);
    // The image at path, read once per map; null when the file is missing or unreadable.
    QPixmap image(const QString& path);
    void reset();
    void beginPress();
    void endPress();

    QPointer<QLabel> img_, hoverOverlay_, selectedOverlay_;
    const ImageMapper* mapper_ = nullptr;
    QHash<QString, QPixmap> images_;
    int hovered_ = -1;
    int selected_ = -1;
    bool hovering_ = false;
    // A button went down on the hover overlay and has not come up yet; while it is down the
    // picture takes no movement.
    bool pressed_ = false;
};

#pragma once
// Putting a preview frame on the screen, in direct mode (straight into the frame buffer)
// or painter mode (through the toolkit's painting). Serves Camera::refreshViewfinder and
// Camera::setFullScreen.
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QImage;
class QWidget;

// The top-left corner of a width x height area centred in `outer` (halves rounded down,
// negative when the area is the larger).
QPoint centredIn(const QSize& outer, int width, int height);

// Whether the screen takes a preview frame's rows straight into its memory: a 16-bit
// RGB 5-6-5 screen in the rotation the card's turned frames need. Elsewhere the preview
// is painted.
bool directPreviewPossible();

// Direct mode: copies the top-left width x height of the 16-bit `image` to (x, y) of
// `widget` in screen memory, placed for the screen's rotation. Nothing is drawn while the
// widget is not visible in one piece.
void blitPreview(QWidget* widget, const QImage& image, int x, int y, int width, int height);

// Painter mode: the widget that shows the preview draws the last frame whenever it paints.
class PreviewPainter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Widgets that may show the preview.
    void watch(QWidget* widget);
    // Forgets the last frame: the next paint shows only the background.
    void clear();
    // Paints the top-left of `image` into `area` of `widget` now, and whenever it repaints.
    // `image` must outlive the painter or the next clear().
    void paint(QWidget* widget, const QImage& image, const QRect& area);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QWidget* target = nullptr;
    const QImage* image = nullptr;
    QRect area; // null: nothing drawn
};

// The option controls: each takes the wanted value, settles it by its own rule, applies
// it to the device, the capture image and the counter, and shows it on the form.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/captureformats.h"
#include "platform/resource.h"
#include "platform/storageinfo.h"

#include <QCheckBox>
#include <QImage>
#include <QPushButton>

namespace {

// Mirror, quality, storage and save direction: above 1 gives 0, below 0 gives 1.
int wrapTwoValued(int value)
{
    if (value > 1)
        return 0;
    if (value < 0)
        return 1;
    return value;
}

const QPixmap& cachedIcon(QPixmap (&cache)[2], const char* names, int index)
{
    if (cache[index].isNull())
        cache[index] = Resource::loadPixmap(QLatin1String(listEntry(names, index)));
    return cache[index];
}

// A button shows its icon instead of its text; without an icon the text stays.
void showIcon(QPushButton* button, const QPixmap& icon)
{
    button->setIcon(icon);
    if (!icon.isNull())
        button->setText(QString());
}

} // namespace

int Camera::formatGeometry(int* width, int* height, bool preview) const
{
    int index = resolution;
    if (preview) {
        const CaptureFormat& current = captureFormats[resolution];
        index = fullScreen ? current.fullScreenPreview() : current.windowPreview();
    }
    int w = captureFormats[index].width;
    int h = captureFormats[index].height;
    if (!preview && saveDirection > 0)
        std::swap(w, h);
    if (width)
        *width = w;
    if (height)
        *height = h;
    return index;
}

int Camera::selectSlowCapture(int on)
{
    if (!(slowCapture & 1))
        return 0;
    if (on)
        slowCapture |= 2;
    else
        slowCapture &= ~2;
    device->setMode(-1, on, -1, -1);
    return on;
}

int Camera::selectDispMode(int index)
{
    if (index >= dispModeMax)
        index = 0;
    else if (index < 0)
        index = dispModeMax - 1;
    PushButton4->setText(tr(listEntry(displayModeNames, index)));
    dispMode = index;
    selectResolution(0);
    return index;
}

int Camera::selectResolution(int start)
{
    if (start < 0)
        start = resolutionMax - 1;
    if (start >= resolutionMax)
        start = 0;
    // One cycle at most; when no offered format has the display mode, the start stays.
    int found = start;
    for (int step = 0; step < resolutionMax; ++step) {
        const int candidate = (start + step) % resolutionMax;
        if (captureFormats[candidate].displayMode() == dispMode) {
            found = candidate;
            break;
        }
    }
    PushButton1->setText(tr(listEntry(formatNames, found)));
    resolution = found;
    selectZoom(zoom);
    PushButton6->setEnabled(captureFormats[resolution].fullScreenAllowed());
    updateRemain(nullptr);

    delete captureImage;
    int width = 0;
    int height = 0;
    formatGeometry(&width, &height, false);
    captureImage = new QImage(width, height, QImage::Format_RGB16);
    captureImage->fill(255);
    return found;
}

int Camera::selectZoom(int level)
{
    const CaptureFormat& current = captureFormats[resolution];
    const int maxZoom = current.maxZoom();
    if (level <= maxZoom) {
        zoom = level < 0 ? maxZoom : level;
    } else {
        if (zoomAny && maxZoom == 0) {
            // Move on within the family of the same preview to a format zoomed that far.
            for (int j = resolution + 1; j < resolutionMax; ++j) {
                if (captureFormats[j].windowPreview() == current.windowPreview()
                    && captureFormats[j].maxZoom() == level) {
                    zoom = level;
                    selectResolution(j);
                    return zoom;
                }
            }
        }
        zoom = 0;
    }
    CheckBox1->setEnabled(zoomAny || maxZoom != 0);
    CheckBox1->setChecked(zoom != 0);
    return zoom;
}

int Camera::selectMirror(int state)
{
    state = wrapTwoValued(state);
    showIcon(PushButton5, cachedIcon(mirrorIcons, mirrorIconNames, state));
    mirror = state;
    const int bits = mirrorModeBits[state];
    device->setMode(-1, -1, (bits >> 1) & 1, bits & 1);
    return state;
}

int Camera::selectQuality(int q)
{
    q = wrapTwoValued(q);
    PushButton2->setText(tr(listEntry(qualityNames, q)));
    quality = q;
    updateRemain(nullptr);
    return q;
}

int Camera::selectSaveTo(int s)
{
    s = wrapTwoValued(s);
    const bool cardUsable = probeStorage(1, nullptr, nullptr);
    if (!cardUsable)
        s = 0;
    if (s == 1 && isCardLocked()) {
        s = 0;
        showMessage(QT_TR_NOOP("Card Locked !"));
    }
    PushButton3->setText(StorageInfo::getDefaultStorageName(s, false));
    PushButton3->setEnabled(cardUsable);
    saveTo = s;
    updateRemain(nullptr);
    return s;
}

int Camera::selectSaveDirection(int d)
{
    if (saveDirection < 0)
        return -1;
    d = wrapTwoValued(d);
    showIcon(PushButton7, cachedIcon(directionIcons, directionIconNames, d));
    saveDirection = d;
    selectResolution(resolution);
    return d;
}

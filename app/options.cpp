// The option controls: each applies its rule's settled value to the device, the capture
// image and the counter, and shows it on the form.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/captureformats.h"
#include "options/optionrules.h"
#include "platform/resource.h"
#include "platform/storageinfo.h"
#include "storage/storageprobe.h"

#include <QCheckBox>
#include <QImage>
#include <QPushButton>

namespace {

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
    const FormatGeometry g = ::formatGeometry(values.resolution, preview, option.fullScreen,
                                              values.saveDirection);
    if (width)
        *width = g.width;
    if (height)
        *height = g.height;
    return g.index;
}

int Camera::selectSlowCapture(int on)
{
    if (!(values.slowCapture & SlowCaptureSwitchable))
        return 0;
    values.slowCapture = settleSlowCapture(values.slowCapture, on);
    cardDevice->setMode(-1, on, -1, -1);
    return on;
}

int Camera::selectDispMode(int index)
{
    index = wrapDisplayMode(index, values.dispModeMax);
    PushButton4->setText(tr(listEntry(displayModeNames, index)));
    values.dispMode = index;
    selectResolution(0);
    return index;
}

int Camera::selectResolution(int start)
{
    const int found = findResolution(start, values.dispMode, values.resolutionMax);
    PushButton1->setText(tr(listEntry(formatNames, found)));
    values.resolution = found;
    selectZoom(option.zoom);
    PushButton6->setEnabled(captureFormats[found].fullScreenAllowed());
    updateRemain(nullptr);
    makeCaptureImage();
    return found;
}

void Camera::makeCaptureImage()
{
    int width = 0;
    int height = 0;
    formatGeometry(&width, &height, false);
    captureImage.reset();
    captureImage = std::make_unique<QImage>(width, height, QImage::Format_RGB16);
    captureImage->fill(255);
}

int Camera::selectZoom(int level)
{
    const ZoomChoice choice = settleZoom(level, values.resolution, values.resolutionMax,
                                         option.zoomAny);
    option.zoom = choice.zoom;
    if (choice.resolution >= 0) {
        selectResolution(choice.resolution);
        return option.zoom;
    }
    CheckBox1->setEnabled(zoomSelectable(values.resolution, option.zoomAny));
    CheckBox1->setChecked(option.zoom != 0);
    return option.zoom;
}

int Camera::selectMirror(int state)
{
    state = wrapTwoValued(state);
    showIcon(PushButton5, cachedIcon(mirrorIcons, mirrorIconNames, state));
    option.mirror = state;
    const int bits = mirrorModeBits[state];
    cardDevice->setMode(-1, -1, (bits >> 1) & 1, bits & 1);
    return state;
}

int Camera::selectQuality(int q)
{
    q = wrapTwoValued(q);
    PushButton2->setText(tr(listEntry(qualityNames, q)));
    values.quality = q;
    updateRemain(nullptr);
    return q;
}

int Camera::selectSaveTo(int s)
{
    s = wrapTwoValued(s);
    const bool cardUsable = probeStorage(MemoryCard, nullptr, nullptr);
    if (!cardUsable)
        s = InternalStorage;
    if (s == MemoryCard && isCardLocked()) {
        s = InternalStorage;
        showMessage(QT_TR_NOOP("Card Locked !"));
    }
    PushButton3->setText(StorageInfo::getDefaultStorageName(s, false));
    PushButton3->setEnabled(cardUsable);
    values.saveTo = s;
    updateRemain(nullptr);
    return s;
}

int Camera::selectSaveDirection(int d)
{
    if (values.saveDirection < 0)
        return -1;
    d = wrapTwoValued(d);
    showIcon(PushButton7, cachedIcon(directionIcons, directionIconNames, d));
    values.saveDirection = d;
    selectResolution(values.resolution);
    return d;
}

#include "options/optionrules.h"

#include "options/captureformats.h"

#include <utility>

int wrapTwoValued(int value)
{
    if (value > 1)
        return 0;
    if (value < 0)
        return 1;
    return value;
}

int wrapDisplayMode(int index, int dispModeMax)
{
    if (index >= dispModeMax)
        return 0;
    if (index < 0)
        return dispModeMax - 1;
    return index;
}

int findResolution(int start, int dispMode, int resolutionMax)
{
    if (start < 0)
        start = resolutionMax - 1;
    if (start >= resolutionMax)
        start = 0;
    for (int step = 0; step < resolutionMax; ++step) {
        const int candidate = (start + step) % resolutionMax;
        if (captureFormats[candidate].displayMode() == dispMode)
            return candidate;
    }
    return start;
}

ZoomChoice settleZoom(int level, int resolution, int resolutionMax, bool zoomAny)
{
    const CaptureFormat& current = captureFormats[resolution];
    const int maxZoom = current.maxZoom();
    if (level <= maxZoom)
        return {level < 0 ? maxZoom : level, -1};
    if (zoomAny && maxZoom == 0) {
        for (int j = resolution + 1; j < resolutionMax; ++j) {
            if (captureFormats[j].windowPreview() == current.windowPreview()
                && captureFormats[j].maxZoom() == level)
                return {level, j};
        }
    }
    return {0, -1};
}

bool zoomSelectable(int resolution, bool zoomAny)
{
    return zoomAny || captureFormats[resolution].maxZoom() != 0;
}

FormatGeometry formatGeometry(int resolution, bool preview, bool fullScreen, int saveDirection)
{
    FormatGeometry g;
    g.index = resolution;
    if (preview) {
        const CaptureFormat& current = captureFormats[resolution];
        g.index = fullScreen ? current.fullScreenPreview() : current.windowPreview();
    }
    g.width = captureFormats[g.index].width;
    g.height = captureFormats[g.index].height;
    if (!preview && saveDirection > 0)
        std::swap(g.width, g.height);
    return g;
}

int settleSlowCapture(int slowCapture, int on)
{
    if (!(slowCapture & SlowCaptureSwitchable))
        return slowCapture;
    return on ? slowCapture | SlowCaptureOn : slowCapture & ~SlowCaptureOn;
}

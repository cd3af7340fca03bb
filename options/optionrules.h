#pragma once
// The rules of the option controls, as functions of their inputs. The window's
// Camera::select* operations apply them to its state and its form.

// Bits of the "SlowCapture" setting.
enum SlowCaptureBit : int {
    SlowCaptureSwitchable = 1, // the F and S keys may switch slow capture
    SlowCaptureOn = 2,         // slow capture on (the device's slow mode)
    SlowCaptureSendC = 4,      // "C" after every preview frame
    SlowCaptureDirect = 8,     // the preview goes straight into the frame buffer
};

// Two-valued options (mirror, quality, storage, save direction): above 1 gives 0, below 0
// gives 1. Serves selectMirror, selectQuality, selectSaveTo and selectSaveDirection.
int wrapTwoValued(int value);

// selectDispMode: the wanted display mode wrapped into 0 to dispModeMax - 1.
int wrapDisplayMode(int index, int dispModeMax);

// selectResolution: from `start` (wrapped into 0 to resolutionMax - 1) the first offered
// format of `dispMode`, one cycle at most; when none has it, the wrapped start.
int findResolution(int start, int dispMode, int resolutionMax);

// selectZoom: the zoom level settled for format `resolution`. With `zoomAny` and a format
// that cannot zoom, a wanted level moves on to the next offered format of the same preview
// zoomed that far: `resolution` then names it, otherwise it is -1.
struct ZoomChoice {
    int zoom = 0;
    int resolution = -1;
};
ZoomChoice settleZoom(int level, int resolution, int resolutionMax, bool zoomAny);

// Whether the zoom check box is enabled for format `resolution`.
bool zoomSelectable(int resolution, bool zoomAny);

// formatGeometry: the table entry and size of the capture frame of format `resolution`
// (width and height exchanged while the save direction is "back"), or with `preview` of
// its preview in the window or full screen.
struct FormatGeometry {
    int index = 0;
    int width = 0;
    int height = 0;
};
FormatGeometry formatGeometry(int resolution, bool preview, bool fullScreen, int saveDirection);

// selectSlowCapture: the "SlowCapture" bits after asking for slow capture `on`; unchanged
// where the bits do not allow switching.
int settleSlowCapture(int slowCapture, int on);

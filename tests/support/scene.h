#pragma once
// The card emulator's test scene as the tests find it in a picture or on a screen.
#include <QColor>
#include <QImage>
#include <QString>

// Empty when `image` shows the scene upright: red, green, blue and yellow quarters, checked
// at the quarter points, loose enough for JPEG and 16-bit pixels; else what is wrong.
inline QString sceneProblem(const QImage& image)
{
    struct Probe {
        const char* name;
        double fx, fy;
        bool r, g, b;
    };
    const Probe probes[] = {{"top-left red", 0.25, 0.25, true, false, false},
                            {"top-right green", 0.75, 0.25, false, true, false},
                            {"bottom-left blue", 0.25, 0.75, false, false, true},
                            {"bottom-right yellow", 0.75, 0.75, true, true, false}};
    for (const Probe& p : probes) {
        const QColor c = image.pixelColor(int(image.width() * p.fx), int(image.height() * p.fy));
        const auto ok = [](int v, bool on) { return on ? v > 200 : v < 60; };
        if (!ok(c.red(), p.r) || !ok(c.green(), p.g) || !ok(c.blue(), p.b))
            return QStringLiteral("%1 is rgb(%2,%3,%4)")
                .arg(p.name).arg(c.red()).arg(c.green()).arg(c.blue());
    }
    return {};
}

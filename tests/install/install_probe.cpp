// What the install tests see of a picture and of a screen, where a shell cannot look:
//   install_probe scene FILE            writes the still picture the card is given
//   install_probe picture FILE [SCENE]  checks that a saved picture shows that scene
//   install_probe screen SHOT X Y [SCENE]
//                                       checks the live preview of a camera window whose
//                                       top-left corner is at X,Y on the screenshot SHOT,
//                                       and prints the counter as "counter VALUE"
// SCENE is "still" (the picture above, the default) or "webcam": the stand-in webcam's
// picture (tools/devices/webcam_shim.c), red, green, blue and yellow quarters and nothing
// in the middle, which tells it from the emulator's own test card of the same colours.
// Exit status 0 when the check holds, 1 with the reason on standard error.
#include "form/camerabase.h"

#include <QApplication>
#include <QImage>
#include <QLCDNumber>
#include <QPainter>

#include <cstdio>

namespace {

// The still picture's quarters are unlike the emulator's own test card, so that its picture
// is told apart; top-left, top-right, bottom-left, bottom-right.
const QColor stillQuarters[4] = {Qt::cyan, Qt::magenta, Qt::white, Qt::black};
const QColor webcamQuarters[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};

// Where the picture is looked at, as fractions of its width and height: each quarter's
// middle, and two points of the box where the test card shows its frame counter, far enough
// from the quarters' borders for a scaled or JPEG-coded edge.
const QPointF samples[] = {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75},
                           {0.45, 0.63}, {0.55, 0.63}};

QString sceneProblem(const QImage& image, const QColor (&quarters)[4])
{
    const char* names[4] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    for (const QPointF& at : samples) {
        const int q = (at.y() > 0.5) * 2 + (at.x() > 0.5);
        const QColor c = image.pixelColor(int(image.width() * at.x()), int(image.height() * at.y()));
        const QColor want = quarters[q];
        const auto near = [](int v, int w) { return qAbs(v - w) < 60; };
        if (!near(c.red(), want.red()) || !near(c.green(), want.green())
            || !near(c.blue(), want.blue()))
            return QStringLiteral("%1 at (%2, %3) is rgb(%4,%5,%6), not rgb(%7,%8,%9)")
                .arg(names[q]).arg(at.x()).arg(at.y()).arg(c.red()).arg(c.green()).arg(c.blue())
                .arg(want.red()).arg(want.green()).arg(want.blue());
    }
    return {};
}

int fail(const QString& why)
{
    std::fprintf(stderr, "install_probe: %s\n", qPrintable(why));
    return 1;
}

// The dark pixels of an image: the lit segments, whatever the background the window gives.
QImage segments(const QImage& image)
{
    QImage mask(image.size(), QImage::Format_Mono);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            mask.setPixel(x, y, qGray(image.pixel(x, y)) < 128 ? 1 : 0);
    return mask;
}

// The counter's text: the one rendering of the form's own counter whose segments are the
// screenshot's. Large numbers first: a big disk shows the largest.
QString counterText(const QImage& shot, QLCDNumber* lcd, const QPoint& at)
{
    const QImage seen = segments(shot.copy(QRect(at, lcd->size())));
    const auto matches = [&](const QString& text) {
        lcd->display(text);
        return segments(lcd->grab().toImage()) == seen;
    };
    if (matches(QStringLiteral("Error")))
        return QStringLiteral("Error");
    for (int n = 99999; n >= 0; --n) {
        if (matches(QString::number(n)))
            return QString::number(n);
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const QColor(*quarters)[4] = &stillQuarters;
    const bool named = (args.value(1) == "picture" && args.size() == 4)
        || (args.value(1) == "screen" && args.size() == 6);
    if (named) {
        const QString scene = args.takeLast();
        if (scene == "webcam")
            quarters = &webcamQuarters;
        else if (scene != "still")
            return fail("no scene " + scene);
    }
    if (args.size() == 3 && args[1] == "scene") {
        QImage image(640, 480, QImage::Format_RGB32);
        QPainter p(&image);
        for (int q = 0; q < 4; ++q)
            p.fillRect(q % 2 * 320, q / 2 * 240, 320, 240, stillQuarters[q]);
        p.end();
        return image.save(args[2]) ? 0 : fail("cannot write " + args[2]);
    }
    if (args.size() == 3 && args[1] == "picture") {
        const QImage picture(args[2]);
        if (picture.isNull())
            return fail(args[2] + " is no picture");
        const QString problem = sceneProblem(picture, *quarters);
        return problem.isEmpty() ? 0 : fail(args[2] + ": " + problem);
    }
    if (args.size() == 5 && args[1] == "screen") {
        const QImage shot(args[2]);
        if (shot.isNull())
            return fail(args[2] + " is no picture");
        const QPoint window(args[3].toInt(), args[4].toInt());
        CameraBase form;
        form.resize(240, 320);
        const QRect preview(window + form.Frame1->mapTo(&form, QPoint(0, 0)), form.Frame1->size());
        const QString problem
            = sceneProblem(shot.copy(preview.adjusted(2, 2, -2, -2)), *quarters);
        if (!problem.isEmpty())
            return fail("the preview: " + problem);
        const QString counter = counterText(
            shot, form.LCDNumber1, window + form.LCDNumber1->mapTo(&form, QPoint(0, 0)));
        if (counter.isEmpty())
            return fail("the counter shows neither a number nor Error");
        std::printf("counter %s\n", qPrintable(counter));
        return 0;
    }
    std::fprintf(stderr, "usage: install_probe scene FILE | picture FILE [SCENE] | "
                         "screen SHOT X Y [SCENE]\n");
    return 2;
}

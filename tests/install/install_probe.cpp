// What the install tests see of a picture and of a screen, where a shell cannot look:
//   install_probe scene FILE            writes the still picture the card is given
//   install_probe picture FILE          checks that a saved picture shows that scene
//   install_probe screen SHOT X Y       checks the live preview of a camera window whose
//                                       top-left corner is at X,Y on the screenshot SHOT,
//                                       and prints the counter as "counter VALUE"
// Exit status 0 when the check holds, 1 with the reason on standard error.
#include "form/camerabase.h"

#include <QApplication>
#include <QImage>
#include <QLCDNumber>
#include <QPainter>

#include <cstdio>

namespace {

// Quarters unlike the emulator's own test card, so that its picture is told apart.
const QColor quarters[4] = {Qt::cyan, Qt::magenta, Qt::white, Qt::black};

QString sceneProblem(const QImage& image)
{
    const char* names[4] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    for (int q = 0; q < 4; ++q) {
        const QColor c = image.pixelColor(int(image.width() * (q % 2 ? 0.75 : 0.25)),
                                          int(image.height() * (q / 2 ? 0.75 : 0.25)));
        const QColor want = quarters[q];
        const auto near = [](int v, int w) { return qAbs(v - w) < 60; };
        if (!near(c.red(), want.red()) || !near(c.green(), want.green())
            || !near(c.blue(), want.blue()))
            return QStringLiteral("%1 is rgb(%2,%3,%4), not rgb(%5,%6,%7)")
                .arg(names[q]).arg(c.red()).arg(c.green()).arg(c.blue())
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
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "scene") {
        QImage image(640, 480, QImage::Format_RGB32);
        QPainter p(&image);
        for (int q = 0; q < 4; ++q)
            p.fillRect(q % 2 * 320, q / 2 * 240, 320, 240, quarters[q]);
        p.end();
        return image.save(args[2]) ? 0 : fail("cannot write " + args[2]);
    }
    if (args.size() == 3 && args[1] == "picture") {
        const QImage picture(args[2]);
        if (picture.isNull())
            return fail(args[2] + " is no picture");
        const QString problem = sceneProblem(picture);
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
        const QString problem = sceneProblem(shot.copy(preview.adjusted(2, 2, -2, -2)));
        if (!problem.isEmpty())
            return fail("the preview: " + problem);
        const QString counter = counterText(
            shot, form.LCDNumber1, window + form.LCDNumber1->mapTo(&form, QPoint(0, 0)));
        if (counter.isEmpty())
            return fail("the counter shows neither a number nor Error");
        std::printf("counter %s\n", qPrintable(counter));
        return 0;
    }
    std::fprintf(stderr, "usage: install_probe scene FILE | picture FILE | screen SHOT X Y\n");
    return 2;
}

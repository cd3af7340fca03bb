#include "app/camera.h"
#include "platform/qpeapplication.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Answers --help, --version and wrong arguments before anything opens a display or a bus;
// returns the exit status then, or -1 to go on. The toolkit's own options (-platform,
// -style, ...) are accepted unlisted and left for the application object to take.
int answerCommandLine(int argc, char** argv)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Takes pictures with the camera card: a live viewfinder, JPEG pictures with\n"
        "sequential names, a counter of the pictures that still fit."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                             "geometry", "style", "stylesheet", "session"}) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString usage = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                    QStringLiteral("camera"));
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString why = parser.errorText().isEmpty()
            ? QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().value(0))
            : parser.errorText();
        std::fprintf(stderr, "camera: %s\n\n%s", qPrintable(why), qPrintable(usage));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(usage), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("camera %s\n", CAMERA_VERSION);
        return 0;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int answered = answerCommandLine(argc, argv);
    if (answered >= 0)
        return answered;
    // Only the card's node needs a right, and its group gives that; root would put a GUI
    // program with every right on the user's display.
    if (geteuid() == 0)
        std::fputs("camera: running as root is not needed\n", stderr);
    QPEApplication app(argc, argv, 1);
    if (!app.claimSingleInstance())
        return 0;  // the running camera was raised instead
    int result;
    {
        CameraPaths paths;
        paths.home = std::getenv("HOME"); // the one environment variable the camera reads
        Camera window(nullptr, nullptr, {}, paths);
        QPEApplication::setInputMethodHint(&window, 1);
        app.showMainWidget(&window, false);
        result = app.exec();
    }
    return result;
}

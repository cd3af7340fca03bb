#include "platform/qpeapplication.h"

#include <QFont>

#include "platform/mountwatcher.h"
#include "platform/qcop.h"
#include "platform/qcop_p.h"
#include "platform/screensaver.h"
#include "platform/waylandsession.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTranslator>
#include <QWidget>

#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApplication, "pda.application", QtInfoMsg)

namespace {

const QByteArray cardChannel = QByteArrayLiteral("QPE/Card");
const QByteArray mountTableChanged = QByteArrayLiteral("mtabChanged()");

// The application's own name on the bus: local.PDA.Application.<name>, with what a bus name
// cannot hold replaced.
QString applicationBusName()
{
    QString element;
    for (const QChar c : QCoreApplication::applicationName()) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
        element += ok ? c : QLatin1Char('_');
    }
    if (element.isEmpty() || element.front().isDigit())
        element.prepend(QLatin1Char('_'));
    return QStringLiteral("local.PDA.Application.") + element;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QByteArray applicationChannelName()
{
    return "QPE/Application/" + QCoreApplication::applicationName().toUtf8();
}

// The signal handler may only touch these: a pipe end and a flag.
int signalFds[2] = {-1, -1};
volatile std::sig_atomic_t signalPending = 0;

struct sigaction previousTerm;
struct sigaction previousInt;

// Where an installed program's translation files lie, from its bin folder.
constexpr char installedTranslations[] = "../share/orvane-camera/translations";

// The application's translation for the user's languages, most wanted first (LANGUAGE, then
// LC_ALL, LC_MESSAGES, LANG). Built-in ones (:/i18n) come before installed files, so a stale
// file never replaces the texts the program was built with. The texts are written in
// English: an English language ends the search, a later language in the list is not used.
void installTranslation(QCoreApplication* app)
{
    const QString base = QCoreApplication::applicationName() + QLatin1Char('_');
    const QStringList folders = {
        QStringLiteral(":/i18n"),
        QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(installedTranslations)),
    };
    auto* translator = new QTranslator(app);
    for (const QString& language : QLocale::system().uiLanguages()) {
        const QLocale locale(language);
        if (locale.language() == QLocale::English || locale.language() == QLocale::C)
            break;
        // "de-AT" is looked for as camera_de_AT, then camera_de.
        QString name = language;
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        for (;;) {
            for (const QString& folder : folders) {
                // By exact name: QTranslator's own fallbacks would end at a bare "camera".
                const QString file = QDir(folder).filePath(base + name + QLatin1String(".qm"));
                if (QFile::exists(file) && translator->load(file)) {
                    QCoreApplication::installTranslator(translator);
                    return;
                }
            }
            const qsizetype cut = name.lastIndexOf(QLatin1Char('_'));
            if (cut <= 0)
                break;
            name.truncate(cut);
        }
    }
    delete translator;
}

extern "C" void onSignal(int signo)
{
    if (signalPending)
        _exit(128 + signo);  // second signal while closing: the user means it
    signalPending = 1;
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    if (signalFds[0] >= 0) {
        // A full socket already holds a wake-up: a failed write loses nothing.
        const ssize_t written = ::write(signalFds[0], &byte, 1);
        static_cast<void>(written);
    }
    errno = saved;
}

} // namespace

QPEApplication::QPEApplication(int& argc, char** argv, int /*type*/)
    : QApplication(argc, argv)
{
    installTranslation(this);
    // The handheld's screen is 240 pixels wide: its applications use a small font.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
    setUpDesktopServices();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalFds) != 0) {
        signalFds[0] = signalFds[1] = -1;
        return;
    }
    signalPending = 0;
    auto* notifier = new QSocketNotifier(signalFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QPEApplication::onTerminationSignal);

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, &previousTerm);
    sigaction(SIGINT, &sa, &previousInt);
}

QPEApplication::~QPEApplication()
{
    // A hold on the screen saver ends with the application.
    delete screenSaver;
    screenSaver = nullptr;
    qDeleteAll(cardNotices);
    cardNotices.clear();
    if (signalFds[0] >= 0) {
        sigaction(SIGTERM, &previousTerm, nullptr);
        sigaction(SIGINT, &previousInt, nullptr);
        ::close(signalFds[0]);
        ::close(signalFds[1]);
        signalFds[0] = signalFds[1] = -1;
    }
    // Messages sent on the way out (the last document notice) must leave before the bus
    // connection goes away with the application.
    pda::flushQCop();
}

void QPEApplication::setUpDesktopServices()
{
    mountWatcher = new pda::MountWatcher("/proc/self/mountinfo", this);
    if (mountWatcher->isWatching()) {
        mountTable = mountWatcher->table();
        connect(mountWatcher, &pda::MountWatcher::changed, this,
                &QPEApplication::onMountTableChanged);
    }

    screenSaver = new pda::ScreenSaverInhibitor(applicationName(),
                                                QStringLiteral("The application is in use"));
}

bool QPEApplication::acceptsFromBus(QCopChannel* channel, const QByteArray& message)
{
    // The environment's own notices, where one runs, pass the same filters as the mount
    // table's, so that one change reaches each listener once.
    if (!mountWatcher || !mountWatcher->isWatching() || channel->channel() != cardChannel
        || message != mountTableChanged)
        return true;
    return cardNoticeFilter(channel).fromBus(mountWatcher->table(), monotonicMs());
}

void QPEApplication::messageSent(const QByteArray& channel, const QByteArray& message,
                                 const QByteArray& data)
{
    if (!screenSaver || channel != "QPE/System" || message != "setScreenSaverMode(int)")
        return;
    QDataStream in(data);
    qint32 mode = 0;
    in >> mode;
    if (in.status() == QDataStream::Ok)
        screenSaver->setMode(mode);
}

pda::CardNoticeFilter& QPEApplication::cardNoticeFilter(QCopChannel* channel)
{
    pda::CardNoticeFilter*& filter = cardNotices[channel];
    if (!filter) {
        filter = new pda::CardNoticeFilter(mountTable);
        connect(channel, &QObject::destroyed, this,
                [this, channel] { delete cardNotices.take(channel); });
    }
    return *filter;
}

void QPEApplication::onMountTableChanged()
{
    const QByteArray table = mountWatcher->table();
    const qint64 now = monotonicMs();
    // A listener may delete listeners, its own channel among them.
    QList<QPointer<QCopChannel>> listeners;
    for (QCopChannel* channel : pda::channelsNamed(cardChannel))
        listeners.append(channel);
    for (const QPointer<QCopChannel>& channel : std::as_const(listeners)) {
        if (channel && cardNoticeFilter(channel).fromKernel(table, now)) {
            qCDebug(lcApplication, "mtabChanged(): the mount table changed");
            emit channel->received(mountTableChanged, QByteArray());
        }
    }
    mountTable = table;
}

bool QPEApplication::claimSingleInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return true;
    // Listening before the name is taken: a second start may ask for raise() at once.
    if (!applicationChannel) {
        applicationChannel = new QCopChannel(applicationChannelName(), this);
        connect(applicationChannel, &QCopChannel::received, this,
                &QPEApplication::onApplicationMessage);
    }
    // The bus gives the name to one caller only and takes it back when that caller's
    // connection closes, so a camera that died leaves nothing behind.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(applicationBusName(),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceNotRegistered)
        return true;
    delete applicationChannel;
    applicationChannel = nullptr;
    {
        // On Wayland only a token from the compositor lets the running instance come to
        // the front: the one the launcher gave us, else one of our own.
        QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
        if (token.isEmpty() && pda::wayland::activationOffered())
            token = pda::wayland::requestActivationToken(applicationName());
        QCopEnvelope e(applicationChannelName(), QByteArrayLiteral("raise()"));
        if (!token.isEmpty())
            e << token;
    }
    pda::flushQCop();
    return false;
}

void QPEApplication::onApplicationMessage(const QByteArray& message, const QByteArray& data)
{
    if (message != "raise()" || !main)
        return;
    main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
    main->show();
    main->raise();
    main->activateWindow();
    // A Wayland client cannot raise itself; with the second start's token the compositor
    // may. Without one (or without xdg-activation) the window stays where it is.
    QString token;
    QDataStream in(data);
    in >> token;
    if (in.status() == QDataStream::Ok && !token.isEmpty())
        pda::wayland::activate(main->windowHandle(), token);
    qCDebug(lcApplication, "raise(): %s brought to the front", qPrintable(applicationName()));
}

bool QPEApplication::windowsCanBeActive()
{
    return pda::wayland::seatHasKeyboard();
}

void QPEApplication::setInputMethodHint(QWidget* widget, int hint)
{
    if (!widget)
        return;
    widget->setProperty("pdaInputMethodHint", hint);
    if (hint == 1)
        widget->setAttribute(Qt::WA_InputMethodEnabled, false);
}

void QPEApplication::showMainWidget(QWidget* widget, bool /*noMaximize*/)
{
    main = widget;
    if (widget) {
        mainFlags = widget->windowFlags();
        widget->show();
        // The environment brings a starting application to the front.
        widget->activateWindow();
    }
}

void QPEApplication::followMainWindowState()
{
    // On Wayland the toolkit draws the title bar itself. Where the compositor maximises the
    // main window (a phone's shell maximises every window) the bar only takes room from the
    // form, and the user cannot move or resize the window anyway. Qt cannot take the bar
    // off a maximised surface (the surface's size would no longer match the compositor's),
    // so the window is made anew without it, and shown in the same state.
    if (!main || !pda::wayland::isWayland() || !main->isVisible())
        return;
    const bool maximised = main->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    // A window that asks for a title or any of the bar's buttons gets its frame back from
    // Qt whatever else it asks for, so the frameless one asks for none of them.
    constexpr Qt::WindowFlags barHints = Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint
        | Qt::WindowContextHelpButtonHint | Qt::WindowShadeButtonHint;
    const Qt::WindowFlags flags =
        maximised ? (mainFlags & ~barHints) | Qt::FramelessWindowHint : mainFlags;
    if (main->windowFlags() == flags)
        return;
    main->setWindowFlags(flags);
    main->show();
}

bool QPEApplication::notify(QObject* receiver, QEvent* event)
{
    const bool isMainClose = event->type() == QEvent::Close && main && receiver == main;
    const bool isMainState = event->type() == QEvent::WindowStateChange && main && receiver == main;
    const bool result = QApplication::notify(receiver, event);
    // After the compositor's change has been taken in whole, not inside its handling.
    if (isMainState)
        QMetaObject::invokeMethod(this, &QPEApplication::followMainWindowState, Qt::QueuedConnection);
    // Other top-level windows (the full-screen frame) must not keep the program alive once
    // the main window has accepted its close.
    if (isMainClose && event->isAccepted())
        quit();
    return result;
}

void QPEApplication::onTerminationSignal()
{
    char bytes[16];
    while (::read(signalFds[1], bytes, sizeof bytes) > 0) {
    }
    if (!main) {
        closing = true;
        quit();
        return;
    }
    closing = true;
    // The same path as the window's close button: closeEvent, then the end of the loop.
    if (!main->close()) {
        closing = false;
        signalPending = 0;  // the window refused; a later signal asks again
    }
}

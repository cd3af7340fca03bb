// The German translation: the window's texts, its messages and message boxes as a German
// user sees them, which locale settings select it, a .ts file with every text of the
// sources translated, and every text of the window fitting its control in every language.
#include "options/captureformats.h"
#include "platform/qpeapplication.h"
#include "support/boxanswerer.h"
#include "support/testenvironment.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLCDNumber>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QTimerEvent>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstdio>

namespace {

const QString tsPath = QStringLiteral(CAMERA_SOURCE_DIR "/translations/camera_de.ts");

struct TsMessage {
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QList<TsMessage> readTs(const QString& path, QString* error)
{
    QList<TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == QLatin1String("message"))
                messages.append(current);
            continue;
        }
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            current = TsMessage{context, QString(), QString(), QString()};
        } else if (name == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

// The shipped translations by context and source text.
QHash<QString, QString> shipped;

QString key(const QString& context, const QString& source)
{
    return context + QChar(0) + source;
}

QString german(const char* context, const char* source)
{
    return shipped.value(key(QLatin1String(context), QString::fromUtf8(source)));
}

// Run as a child: the caption the translation chosen for this environment gives.
int probe(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("camera"));
    QPEApplication app(argc, argv, 1);
    std::printf("%s\n", qPrintable(QCoreApplication::translate("Camera", "Camera")));
    return 0;
}

QString runProbe(const QString& program, const QStringList& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_NUMERIC"})
        env.remove(QLatin1String(name));
    for (const QString& setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, {QStringLiteral("--probe")});
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return QStringLiteral("<probe failed: ") + QString::fromLocal8Bit(process.readAllStandardError())
            + QLatin1Char('>');
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}


// The width a control gives its text: the style's contents rect (frame, margins and check
// indicator taken off), less what a sibling above it covers and the style's spacing to it.
int textRoom(QWidget* w, const QString& text, QString* why)
{
    QStyle* style = w->style();
    QRect room;
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = text;
        opt.icon = button->icon();
        opt.iconSize = button->iconSize();
        if (button->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        room = style->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        // The label keeps the style's button margin clear of the frame.
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &opt, button);
        room.adjust(margin / 2, 0, -(margin - margin / 2), 0);
        if (!button->icon().isNull())
            room.setLeft(room.left() + button->iconSize().width() + 4);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(box);
        opt.text = text;
        room = style->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        room = label->contentsRect();
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        // The title sits at the top left; the frame's line runs on to the right.
        QStyleOptionGroupBox opt;
        opt.initFrom(group);
        opt.text = text;
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        opt.textAlignment = group->alignment();
        const QRect title = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, group);
        room = QRect(title.left(), title.top(), group->width() - title.left(), title.height());
    }
    // Siblings created later are drawn above: they cut off what lies under them.
    if (QWidget* parent = w->parentWidget()) {
        const QRect area = room.translated(w->pos());
        const QObjectList siblings = parent->children();
        for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            auto* sibling = qobject_cast<QWidget*>(siblings.at(i));
            if (!sibling || sibling->isHidden() || !sibling->geometry().intersects(area))
                continue;
            if (sibling->x() > area.left()) {
                // A text ending right at the neighbour's edge reads as part of it.
                const int gap = style->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
                room.setRight(qMin(room.right(), sibling->x() - w->x() - 1 - gap));
                *why = QStringLiteral(" (covered from x=%1 by %2)").arg(sibling->x()).arg(sibling->objectName());
            }
        }
    }
    return room.width();
}

// What the control shows now, and the font that draws it.
QString shownText(QWidget* w, QFont* font)
{
    *font = w->font();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    return QString();
}

// Every text a control of the window shows now that does not fit it, one line each.
QStringList misfits(QWidget* window)
{
    QStringList found;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QFont font;
        const QString text = shownText(w, &font);
        if (text.isEmpty())
            continue;
        QString why;
        const int room = textRoom(w, text, &why);
        const QFontMetrics metrics(font);
        int width = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            width = qMax(width, metrics.horizontalAdvance(line));
        if (width > room)
            found << QStringLiteral("%1 \"%2\": %3 px in %4 px%5")
                         .arg(w->objectName(), text).arg(width).arg(room).arg(why);
    }
    if (auto* counter = window->findChild<QLCDNumber*>()) {
        // The counter's own texts: one digit each, dots included.
        for (const char* text : {"Fr...", "Error"}) {
            if (qstrlen(text) > uint(counter->digitCount()))
                found << QStringLiteral("%1 \"%2\": %3 digits").arg(counter->objectName(),
                                                                    QLatin1String(text))
                             .arg(counter->digitCount());
        }
    }
    return found;
}

} // namespace

class TestTranslation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyMessageTranslated();
    void everySourceTextInTs();
    void formatNamesInTs();
    void compiledMatchesTs_data();
    void compiledMatchesTs();
    void germanCaption();
    void formTexts_data();
    void formTexts();
    void optionTexts_data();
    void optionTexts();
    void messages_data();
    void messages();
    void cardMissingBox();
    void pictureNamePrefix();
    void localeChoice_data();
    void localeChoice();
    void installedFolder();
    void everyTextFits_data();
    void everyTextFits();
};

void TestTranslation::initTestCase()
{
    QString error;
    const QList<TsMessage> messages = readTs(tsPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(messages.size() > 20);
    for (const TsMessage& m : messages)
        shipped.insert(key(m.context, m.source), m.translation);
}

void TestTranslation::everyMessageTranslated()
{
    QString error;
    const QList<TsMessage> messages = readTs(tsPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (const TsMessage& m : messages) {
        const QString where = m.context + QStringLiteral(": ") + m.source;
        QVERIFY2(m.type.isEmpty(), qPrintable(where + QStringLiteral(" is ") + m.type));
        QVERIFY2(!m.translation.trimmed().isEmpty(), qPrintable(where + QStringLiteral(" is empty")));
        // A line break the layout relies on must survive the translation.
        QVERIFY2(m.source.count(QLatin1Char('\n')) == m.translation.count(QLatin1Char('\n')),
                 qPrintable(where + QStringLiteral(": other number of lines")));
    }
}

// lupdate over every folder of the program against a copy of the shipped file: a text added
// anywhere and not translated shows up as unfinished, a removed one as vanished.
void TestTranslation::everySourceTextInTs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("camera_de.ts"));
    QVERIFY(QFile::copy(tsPath, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    const QString src = QStringLiteral(CAMERA_SOURCE_DIR);
    QStringList args = {QStringLiteral("-silent"), QStringLiteral("-I"), src};
    for (const char* folder : {"app", "form", "device", "settings", "options", "viewfinder",
                               "storage", "system", "platform"})
        args << src + QLatin1Char('/') + QLatin1String(folder);
    args << QStringLiteral("-ts") << copy;
    QProcess lupdate;
    lupdate.start(QStringLiteral(CAMERA_LUPDATE), args);
    QVERIFY(lupdate.waitForFinished(60000));
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());

    QString error;
    const QList<TsMessage> messages = readTs(copy, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(messages.size(), shipped.size());
    for (const TsMessage& m : messages)
        QVERIFY2(m.type.isEmpty(), qPrintable(m.context + QStringLiteral(": ") + m.source
                                               + QStringLiteral(" is ") + m.type));
}

// Every format name shown on the resolution button has its entry.
void TestTranslation::formatNamesInTs()
{
    for (int i = 0; i < captureFormatCount; ++i) {
        const char* name = listEntry(formatNames, i);
        QVERIFY2(shipped.contains(key(QStringLiteral("Camera"), QLatin1String(name))), name);
    }
}

void TestTranslation::compiledMatchesTs_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");
    QString error;
    for (const TsMessage& m : readTs(tsPath, &error))
        QTest::newRow(qPrintable(m.context + QLatin1Char('/') + m.source.left(24)))
            << m.context << m.source << m.translation;
}

// The translation the application installed is the one shipped, built from the current file.
void TestTranslation::compiledMatchesTs()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);
    QCOMPARE(QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData()),
             translation);
}

void TestTranslation::germanCaption()
{
    TestEnvironment env;
    auto camera = env.makeCamera();
    QCOMPARE(camera->windowTitle(), QStringLiteral("Kamera"));
    QCOMPARE(camera->PushButton0->text(), QStringLiteral("Auslöser"));
}

void TestTranslation::formTexts_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    const QString base = QStringLiteral("CameraBase");
    const QString camera = QStringLiteral("Camera");
    QTest::newRow("caption") << QString() << camera << "Camera";
    QTest::newRow("remain") << "GroupBox1" << base << "Remain";
    QTest::newRow("shutter") << "PushButton0" << base << "Shutter";
    QTest::newRow("resolution label") << "TextLabel1" << base << "Resolution";
    QTest::newRow("quality label") << "TextLabel2" << base << "Quality";
    QTest::newRow("save-to label") << "TextLabel3" << base << "Save to";
    QTest::newRow("display mode") << "PushButton4" << camera << "Landscape";
    QTest::newRow("quality") << "PushButton2" << camera << "Normal";
    QTest::newRow("save to") << "PushButton3" << "StorageInfo" << "Internal";
    QTest::newRow("message label") << "TextLabel4" << base << "Saved";
}

void TestTranslation::formTexts()
{
    QFETCH(QString, widget);
    QFETCH(QString, context);
    QFETCH(QString, source);
    TestEnvironment env;
    auto camera = env.makeCamera();
    QWidget* w = widget.isEmpty() ? camera.get() : camera->findChild<QWidget*>(widget);
    QVERIFY(w);
    QString shown;
    if (auto* box = qobject_cast<QGroupBox*>(w))
        shown = box->title();
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        shown = button->text();
    else if (auto* label = qobject_cast<QLabel*>(w))
        shown = label->text();
    else
        shown = w->windowTitle();
    const QString expected = shipped.value(key(context, source));
    QVERIFY(!expected.isEmpty());
    QVERIFY2(expected != source, "the German text must differ for this check to mean anything");
    QCOMPARE(shown, expected);
}

void TestTranslation::optionTexts_data()
{
    QTest::addColumn<int>("button"); // 4 display mode, 2 quality, 1 resolution
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("source");
    for (int i = 0; i < 3; ++i)
        QTest::addRow("display mode %d", i) << 4 << i << QString::fromLatin1(listEntry(displayModeNames, i));
    for (int q = 0; q < 2; ++q)
        QTest::addRow("quality %d", q) << 2 << q << QString::fromLatin1(listEntry(qualityNames, q));
    for (int r : {0, 3, 7, 12})
        QTest::addRow("format %d", r) << 1 << r << QString::fromLatin1(listEntry(formatNames, r));
}

void TestTranslation::optionTexts()
{
    QFETCH(int, button);
    QFETCH(int, value);
    QFETCH(QString, source);
    TestEnvironment env;
    auto camera = env.makeCamera();
    QTest::keyClick(camera.get(), Qt::Key_R); // every display mode and format
    QPushButton* shown = nullptr;
    if (button == 4) {
        QCOMPARE(camera->selectDispMode(value), value);
        shown = camera->PushButton4;
    } else if (button == 2) {
        QCOMPARE(camera->selectQuality(value), value);
        shown = camera->PushButton2;
    } else {
        camera->selectDispMode(captureFormats[value].displayMode());
        QCOMPARE(camera->selectResolution(value), value);
        shown = camera->PushButton1;
    }
    QVERIFY(shipped.contains(key(QStringLiteral("Camera"), source)));
    QCOMPARE(shown->text(), shipped.value(key(QStringLiteral("Camera"), source)));
}

void TestTranslation::messages_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("saved") << QByteArray("Saved") << QStringLiteral("Gespeichert");
    QTest::newRow("card locked") << QByteArray("Card Locked !") << QStringLiteral("Karte gesperrt!");
}

void TestTranslation::messages()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);
    TestEnvironment env;
    auto camera = env.makeCamera();
    camera->showMessage(source.constData());
    QCOMPARE(camera->TextLabel4->text(), expected);
    QCOMPARE(expected, german("Camera", source.constData()));
}

// The first tick without a card opens the error box, in German.
void TestTranslation::cardMissingBox()
{
    TestEnvironment env;
    auto camera = env.makeCamera();
    auto boxes = std::make_unique<BoxAnswerer>(20);
    QTimerEvent tick(0);
    QCoreApplication::sendEvent(camera.get(), &tick);
    const QString title = boxes->title, text = boxes->text;
    boxes.reset();
    camera->killTimers();
    QVERIFY(camera->cycle().cardErrorShown);
    QCOMPARE(title, QStringLiteral("Fehler"));
    QCOMPARE(text, german("Camera", "Insert the Camera Card \n(QD-CM09) before starting \n"
                                    "the Camera application."));
    QVERIFY(text.startsWith(QStringLiteral("Stecken Sie die Kamerakarte")));
}

// The default prefix becomes part of every picture's file name: lower-case ASCII only.
void TestTranslation::pictureNamePrefix()
{
    TestEnvironment env;
    auto camera = env.makeCamera();
    const QString prefix = QString::fromLatin1(camera->settings().namePrefix);
    QCOMPARE(prefix, german("Camera", "pic"));
    QVERIFY(!prefix.isEmpty());
    for (QChar c : prefix)
        QVERIFY2(c >= QLatin1Char('a') && c <= QLatin1Char('z'), qPrintable(prefix));

    char name[256];
    int number = 0;
    QVERIFY(camera->makePictureName(0, name, sizeof name, &number));
    QVERIFY2(QFileInfo(QString::fromLocal8Bit(name)).fileName().startsWith(prefix), name);
}

void TestTranslation::localeChoice_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("caption");
    const QString de = QStringLiteral("Kamera");
    const QString en = QStringLiteral("Camera");
    QTest::newRow("German") << QStringList{"LANG=de_DE.UTF-8"} << de;
    QTest::newRow("Austrian falls back to German") << QStringList{"LANG=de_AT.UTF-8"} << de;
    QTest::newRow("Swiss German") << QStringList{"LANG=de_CH.UTF-8"} << de;
    QTest::newRow("C") << QStringList{"LANG=C"} << en;
    QTest::newRow("nothing set") << QStringList{} << en;
    QTest::newRow("English") << QStringList{"LANG=en_GB.UTF-8"} << en;
    QTest::newRow("no French translation") << QStringList{"LANG=fr_FR.UTF-8"} << en;
    QTest::newRow("LC_ALL over LANG") << QStringList{"LANG=en_US.UTF-8", "LC_ALL=de_DE.UTF-8"} << de;
    QTest::newRow("LC_ALL English over LANG")
        << QStringList{"LANG=de_DE.UTF-8", "LC_ALL=en_US.UTF-8"} << en;
    QTest::newRow("LC_MESSAGES over LANG")
        << QStringList{"LANG=en_US.UTF-8", "LC_MESSAGES=de_DE.UTF-8"} << de;
    QTest::newRow("LC_MESSAGES English over LANG")
        << QStringList{"LANG=de_DE.UTF-8", "LC_MESSAGES=en_US.UTF-8"} << en;
    QTest::newRow("LANGUAGE: English wanted first")
        << QStringList{"LANG=de_DE.UTF-8", "LANGUAGE=en:de"} << en;
    QTest::newRow("LANGUAGE: next language when the first has none")
        << QStringList{"LANG=fr_FR.UTF-8", "LANGUAGE=fr:de"} << de;
}

void TestTranslation::localeChoice()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, caption);
    QCOMPARE(runProbe(QCoreApplication::applicationFilePath(), environment), caption);
}

// A program without the language built in finds it in the installed translations folder
// beside its bin folder. Stand-in: the German file renamed for Dutch.
void TestTranslation::installedFolder()
{
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QDir root(prefix.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    QVERIFY(root.mkpath(QStringLiteral("share/orvane-camera/translations")));
    const QString program = root.filePath(QStringLiteral("bin/probe"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    QCOMPARE(runProbe(program, {QStringLiteral("LANG=nl_NL.UTF-8")}), QStringLiteral("Camera"));
    QVERIFY(QFile::copy(QStringLiteral(":/i18n/camera_de.qm"),
                        root.filePath(QStringLiteral("share/orvane-camera/translations/camera_nl.qm"))));
    QCOMPARE(runProbe(program, {QStringLiteral("LANG=nl_NL.UTF-8")}), QStringLiteral("Kamera"));
}

// The source texts and every translation built in.
void TestTranslation::everyTextFits_data()
{
    QTest::addColumn<QString>("qm");
    QTest::newRow("en") << QString();
    QDirIterator it(QStringLiteral(":/i18n"), {QStringLiteral("camera_*.qm")});
    while (it.hasNext()) {
        const QString file = it.next();
        QTest::newRow(qPrintable(QFileInfo(file).baseName().mid(7))) << file;
    }
}

// The window in each language, through every display mode, format, quality, storage and
// message: each text fits inside its control, drawn in the control's font.
void TestTranslation::everyTextFits()
{
    QFETCH(QString, qm);
    const QList<QTranslator*> installed = qApp->findChildren<QTranslator*>();
    for (QTranslator* t : installed)
        QCoreApplication::removeTranslator(t);
    QTranslator language;
    if (!qm.isEmpty()) {
        QVERIFY(language.load(qm));
        QCoreApplication::installTranslator(&language);
    }
    const auto restore = qScopeGuard([&] {
        QCoreApplication::removeTranslator(&language);
        for (QTranslator* t : installed)
            QCoreApplication::installTranslator(t);
    });

    TestEnvironment env;
    auto camera = env.makeCamera();
    QTest::keyClick(camera.get(), Qt::Key_R); // every display mode and format
    QTest::keyClick(camera.get(), Qt::Key_V); // the D button too
    QStringList found;  // each misfit once, with the first state that showed it
    QSet<QString> seen;
    const auto look = [&](const QString& state) {
        for (const QString& misfit : misfits(camera.get())) {
            if (!seen.contains(misfit))
                found << misfit + QStringLiteral(" [") + state + QLatin1Char(']');
            seen.insert(misfit);
        }
    };
    look(QStringLiteral("start"));
    for (int mode = 0; mode < 3; ++mode) {
        QCOMPARE(camera->selectDispMode(mode), mode);
        look(QStringLiteral("display mode %1").arg(mode));
    }
    for (int r = 0; r < captureFormatCount; ++r) {
        camera->selectDispMode(captureFormats[r].displayMode());
        QCOMPARE(camera->selectResolution(r), r);
        look(QStringLiteral("format %1").arg(r));
    }
    for (int q = 0; q < 2; ++q) {
        QCOMPARE(camera->selectQuality(q), q);
        look(QStringLiteral("quality %1").arg(q));
    }
    for (int storage = 0; storage < 2; ++storage) {
        QCOMPARE(camera->selectSaveTo(storage), storage);
        look(QStringLiteral("storage %1").arg(storage));
    }
    for (const char* message : {"Saved", "Card Locked !"}) {
        camera->showMessage(message);
        look(QString::fromLatin1(message));
    }
    QVERIFY2(found.isEmpty(), qPrintable(QLatin1Char('\n') + found.join(QLatin1Char('\n'))));
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--probe") == 0)
        return probe(argc, argv);
    // The whole test runs as a German user of the program "camera".
    qputenv("LANG", "de_DE.UTF-8");
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        qunsetenv(name);
    QCoreApplication::setApplicationName(QStringLiteral("camera"));
    QPEApplication app(argc, argv, 1);
    TestTranslation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"

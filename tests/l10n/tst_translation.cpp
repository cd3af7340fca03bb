// The German translation: the window's texts, its messages and message boxes as a German
// user sees them, which locale settings select it, and a .ts file with every text of the
// sources translated.
#include "options/captureformats.h"
#include "platform/qpeapplication.h"
#include "support/testenvironment.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>
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
    QTest::newRow("save to") << "PushButton3" << "StorageInfo" << "Internal Storage";
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
    QString title, text;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    poll.start(20);
    QTimerEvent tick(0);
    QCoreApplication::sendEvent(camera.get(), &tick);
    poll.stop();
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

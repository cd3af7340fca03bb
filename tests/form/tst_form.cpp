// The control form: every widget with its name, class, parent, place and text.
#include "form/camerabase.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLCDNumber>
#include <QPushButton>
#include <QTest>

Q_DECLARE_METATYPE(QRect)

class TestForm : public QObject {
    Q_OBJECT
private slots:
    void widgets_data();
    void widgets();
    void creationOrder();
    void frameStyles();
    void designSize();
};

void TestForm::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, const char* cls, const char* parent, QRect g, const char* text) {
        QTest::newRow(name) << QString(name) << QString(cls) << QString(parent) << g << QString(text);
    };
    row("ButtonGroup1", "QGroupBox", "CameraBase", QRect(0, 160, 240, 130), "");
    row("GroupBox1", "QGroupBox", "ButtonGroup1", QRect(150, 30, 88, 50), "Remain");
    row("LCDNumber1", "QLCDNumber", "GroupBox1", QRect(5, 15, 80, 30), "");
    row("Line1", "QFrame", "ButtonGroup1", QRect(0, 30, 140, 8), "");
    row("TextLabel1", "QLabel", "ButtonGroup1", QRect(0, 40, 70, 25), "Resolution");
    row("TextLabel2", "QLabel", "ButtonGroup1", QRect(0, 70, 70, 25), "Quality");
    row("TextLabel3", "QLabel", "ButtonGroup1", QRect(0, 100, 70, 25), "Save to");
    row("PushButton6", "QPushButton", "ButtonGroup1", QRect(0, 2, 25, 25), "F");
    row("PushButton5", "QPushButton", "ButtonGroup1", QRect(30, 2, 25, 25), "M");
    row("PushButton4", "QPushButton", "ButtonGroup1", QRect(60, 2, 80, 25), "DispMode");
    row("CheckBox1", "QCheckBox", "ButtonGroup1", QRect(150, 5, 60, 20), "Zoom");
    row("PushButton7", "QPushButton", "ButtonGroup1", QRect(210, 2, 25, 25), "D");
    row("PushButton1", "QPushButton", "ButtonGroup1", QRect(60, 40, 80, 25), "Resolution");
    row("PushButton2", "QPushButton", "ButtonGroup1", QRect(60, 70, 80, 25), "Quality");
    row("PushButton3", "QPushButton", "ButtonGroup1", QRect(60, 100, 80, 25), "SaveTo");
    row("PushButton0", "QPushButton", "ButtonGroup1", QRect(150, 85, 88, 40), "Shutter");
    row("Frame1", "QFrame", "CameraBase", QRect(0, 0, 240, 160), "");
    row("TextLabel4", "QLabel", "Frame1", QRect(40, 60, 154, 50), "Saved");
}

void TestForm::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    CameraBase form;
    QWidget* w = form.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(QString(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->geometry(), geometry);
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(b->text(), text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        QCOMPARE(l->text(), text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        QCOMPARE(g->title(), text);
}

void TestForm::creationOrder()
{
    CameraBase form;
    const QList<QWidget*> expected = {form.ButtonGroup1, form.GroupBox1, form.LCDNumber1,
        form.Line1, form.TextLabel1, form.TextLabel2, form.TextLabel3, form.PushButton6,
        form.PushButton5, form.PushButton4, form.CheckBox1, form.PushButton7, form.PushButton1,
        form.PushButton2, form.PushButton3, form.PushButton0, form.Frame1, form.TextLabel4};
    const QList<QWidget*> all = form.findChildren<QWidget*>();
    QList<QWidget*> ours;
    for (QWidget* w : all) {
        if (expected.contains(w))
            ours.append(w);
    }
    QCOMPARE(ours.size(), expected.size());
    // Later widgets lie above earlier siblings: Frame1 above ButtonGroup1, the label on Frame1.
    QCOMPARE(form.children().indexOf(form.ButtonGroup1) < form.children().indexOf(form.Frame1), true);
}

void TestForm::frameStyles()
{
    CameraBase form;
    QCOMPARE(form.LCDNumber1->frameShape(), QFrame::NoFrame);
    QCOMPARE(form.LCDNumber1->segmentStyle(), QLCDNumber::Flat);
    QCOMPARE(form.LCDNumber1->digitCount(), 5);
    QCOMPARE(form.Line1->frameStyle(), int(QFrame::HLine | QFrame::Sunken));
    QCOMPARE(form.Frame1->frameStyle(), int(QFrame::StyledPanel | QFrame::Raised));
    QCOMPARE(form.TextLabel4->frameStyle(), int(QFrame::Box | QFrame::Raised));
    QCOMPARE(form.TextLabel4->alignment(), Qt::AlignCenter);
    QCOMPARE(form.TextLabel4->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(form.TextLabel4->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
}

void TestForm::designSize()
{
    CameraBase form;
    QCOMPARE(form.size(), QSize(270, 333));
    QCOMPARE(form.windowTitle(), QString("CameraBase"));
    QCOMPARE(form.objectName(), QString("CameraBase"));
    CameraBase named(nullptr, "other");
    QCOMPARE(named.objectName(), QString("other"));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"

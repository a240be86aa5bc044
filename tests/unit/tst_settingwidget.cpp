// The setting panel on the recording fake SDK: what a load sets, and which
// edits and steps write the calibration to the camera.
#include "calibrationvalues.h"
#include "camnetsdkfake.h"
#include "settingwidget.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTranslator>
#include <QtTest>

namespace {

std::string capDocument(const char *distance, const char *bias)
{
    return std::string("<?xml version=\"1.0\"?><FusionCalibrationCap>") + distance +
           "<ScaleRatio><horizontal min=\"1\" max=\"128\" default=\"64\"/>"
           "<vertical min=\"1\" max=\"128\" default=\"64\"/></ScaleRatio><Bias>" +
           bias + "</Bias></FusionCalibrationCap>";
}

std::string valueDocument(int distance, int hScale, int vScale, int hBias, int vBias)
{
    return QString("<?xml version=\"1.0\"?><FusionCalibration><distanceLevel>%1</distanceLevel>"
                   "<ScaleRatio><horizontal>%2</horizontal><vertical>%3</vertical></ScaleRatio>"
                   "<Bias><horizontal>%4</horizontal><vertical>%5</vertical></Bias>"
                   "</FusionCalibration>")
        .arg(distance)
        .arg(hScale)
        .arg(vScale)
        .arg(hBias)
        .arg(vBias)
        .toStdString();
}

void scriptLoad(const std::string &cap, const std::string &values)
{
    FakeSdk::XmlReply capReply;
    capReply.response = cap;
    FakeSdk::XmlReply valueReply;
    valueReply.response = values;
    FakeSdk::pushXmlReply(capReply);
    FakeSdk::pushXmlReply(valueReply);
}

int puts()
{
    int count = 0;
    for (const FakeSdk::Call &call : FakeSdk::calls("CamNet_StdXmlConfig"))
        count += call.requestLine.rfind("PUT ", 0) == 0;
    return count;
}

std::string lastBody()
{
    return FakeSdk::calls("CamNet_StdXmlConfig").back().body;
}

} // namespace

class TestSettingWidget : public QObject
{
    Q_OBJECT

private slots:
    void init() { FakeSdk::reset(); }
    void builtForm();
    void loadSetsRangesThenValuesAndWritesNothing();
    void failedReadsFallBackToInitialRanges();
    void stepsClampAndAlwaysWrite();
    void editingFinishedWrites();
    void writeSettingParamsShowsThenWritesOneDocument();
    void labelsAreShownWhole_data();
    void labelsAreShownWhole();

private:
    static QSpinBox *box(SettingWidget &panel, const char *name)
    {
        return panel.findChild<QSpinBox *>(name);
    }
    static void step(SettingWidget &panel, const char *slot, int val)
    {
        QVERIFY(QMetaObject::invokeMethod(&panel, slot, Q_ARG(int, val)));
    }
};

void TestSettingWidget::builtForm()
{
    SettingWidget panel;
    QCOMPARE(panel.objectName(), QString("SettingWidget"));
    QCOMPARE(int(panel.windowFlags()), 0x80B);
    // 280 unless the texts need more; fixed either way.
    const int width = qMax(280, panel.minimumSizeHint().width());
    QCOMPARE(panel.width(), width);
    QCOMPARE(panel.minimumWidth(), width);
    QCOMPARE(panel.maximumWidth(), width);
    QCOMPARE(box(panel, "distanceSpinBox")->value(), 4);
    QCOMPARE(box(panel, "horShiftSpinBox")->maximum(), 16777215);
    QCOMPARE(box(panel, "horScalingSpinBox")->value(), 1);
    QCOMPARE(box(panel, "distanceSpinBox")->minimumWidth(), 46);
}

void TestSettingWidget::loadSetsRangesThenValuesAndWritesNothing()
{
    // A distance of 12 outside the reported 1..10, a max below its min, and
    // negative minimums.
    scriptLoad(capDocument("<distanceLevel min=\"1\" max=\"10\" default=\"1\"/>",
                           "<horizontal min=\"-50\" max=\"50\" default=\"0\"/>"
                           "<vertical min=\"30\" max=\"20\" default=\"25\"/>"),
               valueDocument(12, 70, 60, -40, 5));
    SettingWidget panel;
    panel.loadSettingParamsFromCamera(0);

    QCOMPARE(box(panel, "distanceSpinBox")->value(), 10);
    QCOMPARE(box(panel, "horShiftSpinBox")->minimum(), -50);
    QCOMPARE(box(panel, "horShiftSpinBox")->value(), -40);
    QCOMPARE(box(panel, "verShiftSpinBox")->minimum(), 30);
    QCOMPARE(box(panel, "verShiftSpinBox")->maximum(), 30);
    QCOMPARE(box(panel, "verShiftSpinBox")->value(), 30);
    QCOMPARE(box(panel, "horScalingSpinBox")->value(), 70);
    QCOMPARE(box(panel, "verScalingSpinBox")->value(), 60);
    QCOMPARE(puts(), 0);
    QCOMPARE(int(FakeSdk::calls("CamNet_StdXmlConfig").size()), 2);
}

void TestSettingWidget::failedReadsFallBackToInitialRanges()
{
    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_TIMED_OUT);
    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_TIMED_OUT);
    SettingWidget panel;
    panel.loadSettingParamsFromCamera(0);
    QCOMPARE(box(panel, "distanceSpinBox")->minimum(), 1);
    QCOMPARE(box(panel, "distanceSpinBox")->maximum(), 10);
    QCOMPARE(box(panel, "distanceSpinBox")->value(), 1);
    // The initial shift range (1, -1) fixes the box at its minimum.
    QCOMPARE(box(panel, "horShiftSpinBox")->maximum(), 1);
    QCOMPARE(box(panel, "horShiftSpinBox")->value(), 1);
    QCOMPARE(box(panel, "verScalingSpinBox")->maximum(), 128);
    QCOMPARE(puts(), 0);
}

void TestSettingWidget::stepsClampAndAlwaysWrite()
{
    scriptLoad(capDocument("<distanceLevel min=\"1\" max=\"10\" default=\"1\"/>",
                           "<horizontal min=\"0\" max=\"200\" default=\"100\"/>"
                           "<vertical min=\"0\" max=\"200\" default=\"100\"/>"),
               valueDocument(10, 64, 1, 100, 0));
    SettingWidget panel;
    panel.loadSettingParamsFromCamera(0);

    step(panel, "onSetDistanceVal", 1); // at the limit: unchanged, still written
    QCOMPARE(box(panel, "distanceSpinBox")->value(), 10);
    QCOMPARE(puts(), 1);
    QVERIFY(lastBody().find("<distanceLevel>10</distanceLevel>") != std::string::npos);

    step(panel, "onSetHorScaleVal", 1);
    step(panel, "onSetVerScaleVal", -1);
    step(panel, "onSetHorShiftVal", -1);
    step(panel, "onSetVerShiftVal", -1);
    QCOMPARE(puts(), 5);
    QCOMPARE(box(panel, "horScalingSpinBox")->value(), 65);
    QCOMPARE(box(panel, "verScalingSpinBox")->value(), 1);
    QCOMPARE(box(panel, "horShiftSpinBox")->value(), 99);
    QCOMPARE(box(panel, "verShiftSpinBox")->value(), 0);
    const std::string body = lastBody();
    QVERIFY(body.find("<horizontal>65</horizontal>") != std::string::npos);
    QVERIFY(body.find("<horizontal>99</horizontal>") != std::string::npos);

    // A step far past the end of the int range stays bounded.
    step(panel, "onSetHorShiftVal", std::numeric_limits<int>::max());
    QCOMPARE(box(panel, "horShiftSpinBox")->value(), 200);
}

void TestSettingWidget::editingFinishedWrites()
{
    auto *owned = new SettingWidget;
    SettingWidget &panel = *owned;
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QSpinBox *distance = box(panel, "distanceSpinBox");
    QSpinBox *shift = box(panel, "horShiftSpinBox");

    distance->setFocus();
    QTRY_VERIFY(distance->hasFocus());
    // The box's own stepping changes the value but writes nothing yet.
    QTest::keyClick(distance, Qt::Key_Up);
    QCOMPARE(distance->value(), 5);
    QCOMPARE(puts(), 0);

    QTest::keyClick(distance, Qt::Key_Return);
    QCOMPARE(puts(), 1);
    shift->setFocus(); // leaving the box finishes the edit once more
    QTRY_COMPARE(puts(), 2);
    QVERIFY(lastBody().find("<distanceLevel>5</distanceLevel>") != std::string::npos);

    // Closing the panel while a box has the focus writes nothing more.
    QTRY_VERIFY(shift->hasFocus());
    delete owned;
    QCOMPARE(puts(), 2);
}

void TestSettingWidget::writeSettingParamsShowsThenWritesOneDocument()
{
    scriptLoad(capDocument("<distanceLevel min=\"1\" max=\"10\" default=\"1\"/>",
                           "<horizontal min=\"-50\" max=\"50\" default=\"0\"/>"
                           "<vertical min=\"0\" max=\"200\" default=\"100\"/>"),
               valueDocument(4, 64, 60, -3, 12));
    SettingWidget panel;
    panel.loadSettingParamsFromCamera(0);
    QCOMPARE(TestSupport::entries(panel.settingRanges()),
             (QVariantList{1, 10, -1, -50, 50, -1, 0, 200, -1, 1, 128, -1, 1, 128, -1}));

    FakeSdk::XmlReply accepted;
    accepted.status = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";
    FakeSdk::pushXmlReply(accepted);
    // A shift of 99 lies beyond its range: the box's bound is what is written.
    QCOMPARE(panel.writeSettingParams(SettingParams{7, 99, 150, 70, 58}), 1);
    QCOMPARE(TestSupport::valuesOf(panel.settingParams()), (QVector<int>{7, 50, 150, 70, 58}));
    QCOMPARE(puts(), 1);
    const std::string body = lastBody();
    for (const char *element :
         {"<distanceLevel>7</distanceLevel>", "<horizontal>70</horizontal>",
          "<vertical>58</vertical>", "<horizontal>50</horizontal>", "<vertical>150</vertical>"})
        QVERIFY2(body.find(element) != std::string::npos, element);
    // What the load read is kept, whatever was written since.
    QCOMPARE(TestSupport::valuesOf(panel.connectParams()), (QVector<int>{4, -3, 12, 64, 60}));
}

void TestSettingWidget::labelsAreShownWhole_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("English") << false;
    QTest::newRow("Chinese") << true;
}

void TestSettingWidget::labelsAreShownWhole()
{
    QFETCH(bool, chinese);
    SettingWidget panel;
    // Installed after the panel was built, so that the panel's own answer to
    // a change of language is what is checked.
    QTranslator translator;
    if (chinese) {
        QVERIFY(translator.load(QStringLiteral(OVERLAYTUNER_QM_FILE)));
        QCoreApplication::installTranslator(&translator);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    }
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(panel.findChild<QLabel *>("label_4")->text(),
             chinese ? QString::fromUtf8("水平偏移：") : QString("Horizontal shift:"));
    const QList<QLabel *> labels = panel.findChildren<QLabel *>();
    QCOMPARE(labels.size(), 11);
    for (QLabel *label : labels)
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    QVERIFY(panel.width() >= 280);
    QCOMPARE(panel.minimumWidth(), panel.maximumWidth());
    if (chinese)
        QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(TestSettingWidget)
#include "tst_settingwidget.moc"

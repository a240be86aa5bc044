// The Chinese translation: complete for every source text, and used by the
// windows once it is installed.
#include "aboutdialog.h"
#include "overlaytuner.h"

#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    bool finished = false;
};

QList<Message> readTs(const QString &path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message();
            current.context = context;
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value("type").toString();
            current.finished = type.isEmpty();
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return messages;
}

} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT

private slots:
    void everySourceTextIsTranslated();
    void windowsUseTheTranslation();
};

void TestTranslation::everySourceTextIsTranslated()
{
    const QString committed =
        QStringLiteral(OVERLAYTUNER_SOURCE_DIR "/translations/overlaytuner_zh.ts");
    const QList<Message> known = readTs(committed);
    QVERIFY(!known.isEmpty());
    QSet<QString> translated;
    for (const Message &m : known) {
        if (m.finished && !m.translation.isEmpty())
            translated << m.context + QLatin1Char('\n') + m.source;
    }

    // Scan the sources afresh, so that a text added without its translation
    // is caught even when the committed file was not updated.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString scanned = dir.filePath("scan.ts");
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(OVERLAYTUNER_SOURCE_DIR));
    lupdate.start(QStringLiteral(OVERLAYTUNER_LUPDATE),
                  {"-silent", "-locations", "none", "app", "camera", "calibration", "controls",
                   "alignment", "-ts", scanned});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);

    const QList<Message> found = readTs(scanned);
    QVERIFY(found.size() >= 8);
    QStringList missing;
    for (const Message &m : found) {
        if (!translated.contains(m.context + QLatin1Char('\n') + m.source))
            missing << m.context + QStringLiteral(": ") + m.source;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral("; "))));
}

void TestTranslation::windowsUseTheTranslation()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(OVERLAYTUNER_QM_FILE)));
    QCoreApplication::installTranslator(&translator);

    OverlayTuner window;
    QCOMPARE(window.windowTitle(), QString::fromUtf8("图像融合校准"));
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.at(0)->text(), QString::fromUtf8("相机"));
    QCOMPARE(window.findChild<QAction *>("actionConnect")->text(), QString::fromUtf8("连接"));
    QCOMPARE(window.findChild<QAction *>("actionFindCameras")->text(),
             QString::fromUtf8("查找相机…"));

    AboutDialog about;
    QCOMPARE(about.findChild<QLabel *>("versionText")->text(), QString::fromUtf8("版本：V 1.0.1"));
    // The date pieces stay untranslated, so the stamp keeps its digits.
    QCOMPARE(AboutDialog::buildDateStamp("May  7 2018"), QString("20180507"));

    QCoreApplication::removeTranslator(&translator);
    OverlayTuner english;
    QCOMPARE(english.windowTitle(), QString("OverlayTuner"));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"

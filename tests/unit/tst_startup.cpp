// Window placement on the work area and the translator's loading rule.
#include "startup.h"

#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
};

void TestStartup::placement_data()
{
    QTest::addColumn<QSize>("workArea");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QPoint>("position");

    QTest::newRow("full hd") << QSize(1920, 1080) << QSize(1280, 520) << true << QPoint(320, 280);
    QTest::newRow("xga") << QSize(1024, 768) << QSize(1024, 768) << false << QPoint();
    QTest::newRow("exact minimum") << QSize(1280, 520) << QSize(1280, 520) << true << QPoint(0, 0);
    QTest::newRow("one short each way")
        << QSize(1279, 519) << QSize(1279, 519) << false << QPoint();
    QTest::newRow("tall and narrow") << QSize(500, 900) << QSize(500, 900) << false << QPoint();
    QTest::newRow("wide but short") << QSize(2560, 400) << QSize(2560, 400) << false << QPoint();
    QTest::newRow("odd remainder truncates")
        << QSize(1281, 523) << QSize(1280, 520) << true << QPoint(0, 1);
}

void TestStartup::placement()
{
    QFETCH(QSize, workArea);
    QFETCH(QSize, minimum);
    QFETCH(bool, moved);
    QFETCH(QPoint, position);

    const WindowPlacement placement = placeOnWorkArea(workArea.width(), workArea.height());
    QCOMPARE(placement.minimumSize, minimum);
    QCOMPARE(placement.move, moved);
    if (moved)
        QCOMPARE(placement.position, position);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"

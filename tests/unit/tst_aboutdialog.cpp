// The About dialog's texts, logo and title, and the build-date stamp.
#include "aboutdialog.h"
#include "appglobals.h"

#include <QLabel>
#include <QTextCodec>
#include <QtTest>

namespace {

// A date as the compiler writes __DATE__ ("May  7 2018"), as year, month and
// day in eight digits.
QString stampOf(const char *date)
{
    const QDate day =
        QLocale::c().toDate(QString::fromLatin1(date).simplified(), QStringLiteral("MMM d yyyy"));
    return day.toString(QStringLiteral("yyyyMMdd"));
}

} // namespace

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void buildDateStamp_data();
    void buildDateStamp();
    void contents();
    void titleIsGbkDecodedWhateverTheLocale();
};

void TestAboutDialog::buildDateStamp_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("one-digit day") << "May  7 2018"
                                   << "20180507";
    QTest::newRow("two-digit day") << "Dec 24 2026"
                                   << "20261224";
    QTest::newRow("january") << "Jan 31 1999"
                             << "19990131";
    QTest::newRow("lower-case month stays") << "may 17 2018"
                                            << "2018may17";
    QTest::newRow("unknown month, short day") << "Foo  1 2020"
                                              << "2020Foo01";
    QTest::newRow("two parts") << "May 2018"
                               << "";
    QTest::newRow("five parts") << "May   7 2018"
                                << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestAboutDialog::buildDateStamp()
{
    QFETCH(QString, date);
    QFETCH(QString, stamp);
    QCOMPARE(AboutDialog::buildDateStamp(date), stamp);
}

void TestAboutDialog::contents()
{
    AboutDialog dialog;
    QCOMPARE(dialog.objectName(), QString("AboutDialog"));
    QCOMPARE(dialog.size(), QSize(315, 116));

    auto *logo = dialog.findChild<QLabel *>("logoLabel");
    auto *about = dialog.findChild<QLabel *>("aboutText");
    auto *version = dialog.findChild<QLabel *>("versionText");
    QVERIFY(logo && about && version);

    QCOMPARE(version->text(), QString("Version:V 1.0.1"));
    QCOMPARE(version->text(), QString("Version:") + appVersion);

    // The stamp shown is the build date, worked out here from the compiler's
    // own date text without the function under test.
    QCOMPARE(stampOf("May  7 2018"), QString("20180507"));
    QCOMPARE(stampOf("Dec 24 2026"), QString("20261224"));
    const QString prefix = QStringLiteral("Overlay tuner. Build ");
    QVERIFY2(about->text().startsWith(prefix), qPrintable(about->text()));
    const QString stamp = about->text().mid(prefix.size());
    QCOMPARE(stamp.size(), 8);
    QVERIFY(QRegularExpression("^20\\d{2}(0[1-9]|1[0-2])(0[1-9]|[12]\\d|3[01])$")
                .match(stamp)
                .hasMatch());
    QStringList buildDays{stampOf(__DATE__)};
    // A build running past midnight may have compiled the dialog a day
    // before this test.
    if (QTime::fromString(QStringLiteral(__TIME__), QStringLiteral("hh:mm:ss")).hour() == 0)
        buildDays << QDate::fromString(buildDays.first(), QStringLiteral("yyyyMMdd"))
                         .addDays(-1)
                         .toString(QStringLiteral("yyyyMMdd"));
    QVERIFY2(buildDays.contains(stamp),
             qPrintable(stamp + " is not the build date " + buildDays.join(" or ")));

    QVERIFY(!logo->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(64, 64));
    QCOMPARE(logo->minimumSize(), QSize(64, 64));
    QCOMPARE(logo->maximumSize(), QSize(64, 64));

    for (QLabel *label : {about, version}) {
        QCOMPARE(label->font().family(), QString::fromUtf8("微软雅黑"));
        QCOMPARE(label->font().pointSize(), 9);
        QVERIFY(label->font().bold());
        QCOMPARE(label->minimumWidth(), 150);
        QCOMPARE(label->maximumWidth(), 150);
        QVERIFY(label->wordWrap());
    }

    // A second opening builds the same texts afresh.
    AboutDialog second;
    QCOMPARE(second.findChild<QLabel *>("aboutText")->text(), about->text());
}

void TestAboutDialog::titleIsGbkDecodedWhateverTheLocale()
{
    const QString expected = QString::fromUtf8("版本信息");
    QTextCodec *original = QTextCodec::codecForLocale();
    for (const char *locale : {"UTF-8", "ISO-8859-1", "GBK"}) {
        QTextCodec *codec = QTextCodec::codecForName(locale);
        QVERIFY2(codec, locale);
        QTextCodec::setCodecForLocale(codec);
        AboutDialog dialog;
        QCOMPARE(dialog.windowTitle(), expected);
    }
    QTextCodec::setCodecForLocale(original);
}

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"

// The connection dialog: filled from config.ini, accepted values only on Connect.
#include "cameraconnectwidget.h"
#include "configparams.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestCameraConnectWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void formAndPasswordField();
    void missingFileGivesEmptyFields();
    void fieldsComeFromConfigFile();
    void connectAcceptsTypedValues_data();
    void connectAcceptsTypedValues();
    void cancelKeepsTypedTextButNotValues();

private:
    static void writeConfig(const QByteArray &content);
    static QLineEdit *edit(QDialog &dialog, const char *name)
    {
        return dialog.findChild<QLineEdit *>(name);
    }
};

void TestCameraConnectWidget::writeConfig(const QByteArray &content)
{
    openConfigFile();
    QFile file(QCoreApplication::applicationDirPath() + "/config.ini");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestCameraConnectWidget::init()
{
    openConfigFile();
    QFile::remove(QCoreApplication::applicationDirPath() + "/config.ini");
}

void TestCameraConnectWidget::formAndPasswordField()
{
    CameraConnectWidget dialog;
    QCOMPARE(dialog.objectName(), QString("CameraConnectWidget"));
    QCOMPARE(dialog.windowTitle(), QString("CameraConnectWidget"));
    QCOMPARE(dialog.size(), QSize(224, 200));
    QCOMPARE(dialog.findChild<QPushButton *>("connectBtn")->text(), QString("Connect"));
    QCOMPARE(dialog.findChild<QPushButton *>("cancelBtn")->text(), QString("Cancel"));
    QLineEdit *passwd = edit(dialog, "passwdLineEdt");
    QCOMPARE(passwd->echoMode(), QLineEdit::PasswordEchoOnEdit);
    QCOMPARE(passwd->contextMenuPolicy(), Qt::NoContextMenu);
}

void TestCameraConnectWidget::missingFileGivesEmptyFields()
{
    CameraConnectWidget dialog;
    QCOMPARE(edit(dialog, "ipAddrLineEdt")->text(), QString());
    QCOMPARE(edit(dialog, "portLineEdt")->text(), QString("0"));
    QCOMPARE(edit(dialog, "userNameLineEdt")->text(), QString());
    QCOMPARE(edit(dialog, "passwdLineEdt")->text(), QString());
    // Reading creates nothing.
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/config.ini"));
}

void TestCameraConnectWidget::fieldsComeFromConfigFile()
{
    writeConfig("[General]\nIP=127.0.0.1\nUSERNAME=op\nPASSWD=pw\nPORT=8123\nCHANNEL=5\n");
    CameraConnectWidget dialog;
    QCOMPARE(edit(dialog, "ipAddrLineEdt")->text(), QString("127.0.0.1"));
    QCOMPARE(edit(dialog, "portLineEdt")->text(), QString("8123"));
    QCOMPARE(edit(dialog, "userNameLineEdt")->text(), QString("op"));
    QCOMPARE(edit(dialog, "passwdLineEdt")->text(), QString("pw"));
}

void TestCameraConnectWidget::connectAcceptsTypedValues_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("port");
    QTest::newRow("number") << "8000" << 8000;
    QTest::newRow("letter in it") << "80a0" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("above 16 bits stays") << "73536" << 73536;
}

void TestCameraConnectWidget::connectAcceptsTypedValues()
{
    QFETCH(QString, portText);
    QFETCH(int, port);

    CameraConnectWidget dialog;
    edit(dialog, "ipAddrLineEdt")->setText(" 127.0.0.9");
    edit(dialog, "portLineEdt")->setText(portText);
    edit(dialog, "userNameLineEdt")->setText("");
    edit(dialog, "passwdLineEdt")->setText("secret");
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.findChild<QPushButton *>("connectBtn"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    QString ip, user, passwd;
    int gotPort = -1;
    dialog.getLoginParams(ip, gotPort, user, passwd);
    QCOMPARE(ip, QString(" 127.0.0.9")); // as typed, not trimmed
    QCOMPARE(gotPort, port);
    QCOMPARE(user, QString());
    QCOMPARE(passwd, QString("secret"));
}

void TestCameraConnectWidget::cancelKeepsTypedTextButNotValues()
{
    CameraConnectWidget dialog;
    QString ip, user, passwd;
    int port = -1;
    dialog.getLoginParams(ip, port, user, passwd);
    QCOMPARE(port, 0); // nothing accepted yet

    edit(dialog, "ipAddrLineEdt")->setText("127.0.0.1");
    edit(dialog, "portLineEdt")->setText("8000");
    QTest::mouseClick(dialog.findChild<QPushButton *>("connectBtn"), Qt::LeftButton);

    edit(dialog, "ipAddrLineEdt")->setText("127.0.0.2");
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    QTest::mouseClick(dialog.findChild<QPushButton *>("cancelBtn"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(edit(dialog, "ipAddrLineEdt")->text(), QString("127.0.0.2"));
    dialog.getLoginParams(ip, port, user, passwd);
    QCOMPARE(ip, QString("127.0.0.1"));
    QCOMPARE(port, 8000);
}

QTEST_MAIN(TestCameraConnectWidget)
#include "tst_cameraconnectwidget.moc"

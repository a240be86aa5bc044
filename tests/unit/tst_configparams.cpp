// config.ini beside the executable: what is read, what is written, and who may
// read the file that holds the password.
#include "configparams.h"

#include <QtTest>

#include <sys/stat.h>

class TestConfigParams : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void missingFileReadsEmpty();
    void readsWrittenValuesAndOverwritesDefaults();
    void malformedNumbersReadZero();
    void writeReplacesEveryKey();
    void newFileIsPrivate();
    void existingPermissionsAreKept();

private:
    static QString path() { return QCoreApplication::applicationDirPath() + "/config.ini"; }
    static void writeRaw(const QByteArray &content);
    static int mode(const QString &file);
    // All six fields in one text, so a comparison shows every difference.
    static QString fields(const ConfigParams &p)
    {
        return QStringList{p.ip,
                           p.userName,
                           p.passwd,
                           QString::number(p.port),
                           QString::number(p.channel),
                           QString::number(p.pixel)}
            .join(QLatin1Char('|'));
    }
};

void TestConfigParams::writeRaw(const QByteArray &content)
{
    openConfigFile(); // releases any store still holding the file
    QFile file(path());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

int TestConfigParams::mode(const QString &file)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return -1;
    return st.st_mode & 0777;
}

void TestConfigParams::init()
{
    openConfigFile();
    QFile::remove(path());
}

void TestConfigParams::missingFileReadsEmpty()
{
    ConfigParams params;
    readConfigParams(params);
    QCOMPARE(configFilePath, path());
    // The constructor's channel 1 does not survive a read.
    QCOMPARE(fields(params), QString("|||0|0|0"));
    QVERIFY(!QFile::exists(path()));
}

void TestConfigParams::readsWrittenValuesAndOverwritesDefaults()
{
    writeRaw("[General]\nIP=127.0.0.1\nUSERNAME=admin\nPASSWD=\"p;w=d\"\nPORT=8000\n"
             "CHANNEL=5\nPIXEL=3\n");
    ConfigParams params;
    params.ip = "stale";
    readConfigParams(params);
    QCOMPARE(fields(params), QString("127.0.0.1|admin|p;w=d|8000|5|3"));
}

void TestConfigParams::malformedNumbersReadZero()
{
    writeRaw("[General]\nPORT=abc\nCHANNEL=1.5\nPIXEL=\n");
    ConfigParams params;
    readConfigParams(params);
    QCOMPARE(fields(params), QString("|||0|0|0"));
}

void TestConfigParams::writeReplacesEveryKey()
{
    writeRaw("[General]\nIP=10.1.1.1\nCHANNEL=5\nPIXEL=3\nPORT=1\n");
    ConfigParams params;
    params.ip = "127.0.0.2";
    params.userName = "operator";
    params.passwd = QString::fromUtf8("pässwörd");
    params.port = 8000;
    writeConfigParams(params);

    ConfigParams back;
    readConfigParams(back); // opening again flushes the previous store
    QCOMPARE(fields(back), QString::fromUtf8("127.0.0.2|operator|pässwörd|8000|1|0"));

    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.startsWith("[General]\n"));
    QVERIFY(text.contains("\nPORT=8000\n"));
    QVERIFY(text.contains("\nCHANNEL=1\n"));
    QVERIFY(text.contains("\nPIXEL=0\n"));
    QVERIFY(text.contains("\nIP=127.0.0.2\n"));
}

void TestConfigParams::newFileIsPrivate()
{
    ConfigParams params;
    params.passwd = "secret";
    writeConfigParams(params);
    openConfigFile();
    QVERIFY(QFile::exists(path()));
    QCOMPARE(mode(path()), 0600);
}

void TestConfigParams::existingPermissionsAreKept()
{
    for (const int existing : {0600, 0640, 0644}) {
        writeRaw("[General]\nIP=old\n");
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), existing) == 0);
        ConfigParams params;
        params.ip = "new";
        writeConfigParams(params);
        openConfigFile();
        QCOMPARE(mode(path()), existing);
        ConfigParams back;
        readConfigParams(back);
        QCOMPARE(back.ip, QString("new"));
    }
}

QTEST_GUILESS_MAIN(TestConfigParams)
#include "tst_configparams.moc"

// CameralInteract against the recording fake SDK: call order and the bytes
// of the login and preview records.
#include "cameralinteract.h"
#include "camnetsdkfake.h"

#include <QTextCodec>
#include <QtTest>

#include <cstring>

namespace {

using Names = std::vector<std::string>;

uint16_t u16At(const std::string &bytes, size_t offset)
{
    return uint16_t(uint8_t(bytes[offset]) | (uint8_t(bytes[offset + 1]) << 8));
}

bool allZero(const std::string &bytes, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != '\0')
            return false;
    }
    return true;
}

} // namespace

class TestCameralInteract : public QObject
{
    Q_OBJECT

private slots:
    void init() { FakeSdk::reset(); }
    void cleanup() { CameralInteract::instance()->logout(); }

    void creationInitialisesTheSdkOnce();
    void loginSendsSettingsThenTheRecord();
    void loginCutsLongTextsAndPort();
    void failedLoginReturnsTheSdkCode();
    void reloginStopsPreviewsInChannelOrderFirst();
    void realPlayBeforeLoginCallsNothing();
    void realPlayFillsThePreviewRecord();
    void replayingAChannelStopsItsOldPreview();
    void failedPreviewIsNotStoppedAtLogout();
    void secondLogoutCallsNothing();
};

void TestCameralInteract::creationInitialisesTheSdkOnce()
{
    CameralInteract *first = CameralInteract::instance();
    QCOMPARE(CameralInteract::instance(), first);
    QCOMPARE(FakeSdk::callNames(), Names{"CamNet_Init"});
    QCOMPARE(first->loginId(), -1);
    QVERIFY(!first->parent());
    QCOMPARE(first->metaObject()->className(), "CameralInteract");
}

void TestCameralInteract::loginSendsSettingsThenTheRecord()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QStringLiteral("admin"),
                         QStringLiteral("secret")),
             0);
    QCOMPARE(link->loginId(), 0);

    const auto calls = FakeSdk::calls();
    QCOMPARE(FakeSdk::callNames(),
             (Names{"CamNet_SetConnectTime", "CamNet_SetReconnect", "CamNet_Login"}));
    QCOMPARE(calls[0].args, (std::vector<int64_t>{1000, 1}));
    QCOMPARE(calls[1].args, (std::vector<int64_t>{1000, 1}));

    const std::string &r = calls[2].record;
    QCOMPARE(r.size(), size_t(400));
    QCOMPARE(r.substr(0, 10), std::string("127.0.0.1\0", 10));
    QVERIFY(allZero(r, 9, 130));
    QCOMPARE(u16At(r, 130), uint16_t(8000));
    QCOMPARE(r.substr(132, 6), std::string("admin\0", 6));
    QVERIFY(allZero(r, 137, 196));
    QCOMPARE(r.substr(196, 7), std::string("secret\0", 7));
    QVERIFY(allZero(r, 202, 400));
    // The device-info reply is handed over cleared.
    QCOMPARE(calls[2].input, std::string(344, '\0'));

    // The texts reach the SDK in the local 8-bit encoding, whatever it is:
    // one byte per letter under Latin-1, two under UTF-8.
    QTextCodec *original = QTextCodec::codecForLocale();
    const QString user = QString::fromUtf8("J\xC3\xBCrgen");
    const QString password = QString::fromUtf8("s\xC3\xBC\xC3\x9F");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const int latin1Code = link->login(QStringLiteral("127.0.0.1"), 8000, user, password);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const int utf8Code = link->login(QStringLiteral("127.0.0.1"), 8000, user, password);
    QTextCodec::setCodecForLocale(original);
    QCOMPARE(latin1Code, 0);
    QCOMPARE(utf8Code, 0);
    const auto logins = FakeSdk::calls("CamNet_Login");
    QCOMPARE(logins.size(), size_t(3));
    const std::string &latin1 = logins[1].record;
    QCOMPARE(latin1.substr(132, 7), std::string("J\xFCrgen\0", 7));
    QVERIFY(allZero(latin1, 138, 196));
    QCOMPARE(latin1.substr(196, 4), std::string("s\xFC\xDF\0", 4));
    QVERIFY(allZero(latin1, 199, 400));
    const std::string &utf8 = logins[2].record;
    QCOMPARE(utf8.substr(132, 8), std::string("J\xC3\xBCrgen\0", 8));
    QCOMPARE(utf8.substr(196, 6), std::string("s\xC3\xBC\xC3\x9F\0", 6));
}

void TestCameralInteract::loginCutsLongTextsAndPort()
{
    const QString address(140, QLatin1Char('a'));
    const QString user = QStringLiteral("u").repeated(40);
    const QString password = QStringLiteral("p").repeated(20);
    QCOMPARE(CameralInteract::instance()->login(address, 73536, user, password), 0);

    const std::string r = FakeSdk::calls("CamNet_Login").at(0).record;
    QCOMPARE(r.substr(0, 129), std::string(129, 'a'));
    QCOMPARE(r[129], '\0');
    QCOMPARE(u16At(r, 130), uint16_t(73536 - 65536));
    QCOMPARE(r.substr(132, 32), std::string(32, 'u'));
    QVERIFY(allZero(r, 164, 196));
    QCOMPARE(r.substr(196, 16), std::string(16, 'p'));
    QVERIFY(allZero(r, 212, 400));
}

void TestCameralInteract::failedLoginReturnsTheSdkCode()
{
    FakeSdk::pushFailure("CamNet_Login", CAMNET_ERR_AUTHENTICATION_FAILED);
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QStringLiteral("admin"),
                         QStringLiteral("wrong")),
             int(CAMNET_ERR_AUTHENTICATION_FAILED));
    QVERIFY(link->loginId() < 0);
    QCOMPARE(FakeSdk::callNames().back(), std::string("CamNet_GetLastError"));
    // The identifier keeps whatever negative value the SDK returned.
    FakeSdk::push("CamNet_Login", FakeSdk::Result{-7, CAMNET_ERR_TIMED_OUT, {}, {}});
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QStringLiteral("admin"),
                         QStringLiteral("wrong")),
             int(CAMNET_ERR_TIMED_OUT));
    QCOMPARE(link->loginId(), -7);
    // Not logged in, so nothing is started or stopped.
    QVERIFY(!link->realPlay(WId(1), 1));
    link->logout();
    QCOMPARE(FakeSdk::calls("CamNet_RealPlay").size(), size_t(0));
    QCOMPARE(FakeSdk::calls("CamNet_Logout").size(), size_t(0));
}

void TestCameralInteract::reloginStopsPreviewsInChannelOrderFirst()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    QVERIFY(link->realPlay(WId(22), 2)); // handle 100
    QVERIFY(link->realPlay(WId(11), 1)); // handle 101
    FakeSdk::reset();

    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    const auto calls = FakeSdk::calls();
    QCOMPARE(FakeSdk::callNames(),
             (Names{"CamNet_StopRealPlay", "CamNet_StopRealPlay", "CamNet_Logout",
                    "CamNet_SetConnectTime", "CamNet_SetReconnect", "CamNet_Login"}));
    QCOMPARE(calls[0].args, std::vector<int64_t>{101});
    QCOMPARE(calls[1].args, std::vector<int64_t>{100});
    QCOMPARE(calls[2].args, std::vector<int64_t>{0});
}

void TestCameralInteract::realPlayBeforeLoginCallsNothing()
{
    QVERIFY(!CameralInteract::instance()->realPlay(WId(5), 1));
    QVERIFY(FakeSdk::calls().empty());
}

void TestCameralInteract::realPlayFillsThePreviewRecord()
{
    CameralInteract *link = CameralInteract::instance();
    FakeSdk::push("CamNet_Login", FakeSdk::Result{7, 0, {}, {}});
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    const WId window = WId(0x1234567);
    QVERIFY(link->realPlay(window, 2));

    const FakeSdk::Call call = FakeSdk::calls("CamNet_RealPlay").at(0);
    QCOMPARE(call.args, std::vector<int64_t>{7});
    QCOMPARE(call.context, static_cast<void *>(link));
    QVERIFY(call.callback);
    call.callback(0, 0, nullptr, 0, nullptr); // must be harmless from any thread

    PreviewRequest expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.channel = 2;
    expected.window = window;
    QCOMPARE(call.record, std::string(reinterpret_cast<const char *>(&expected), sizeof(expected)));
    QCOMPARE(call.record.substr(0, 4), std::string("\2\0\0\0", 4));
}

void TestCameralInteract::replayingAChannelStopsItsOldPreview()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    QVERIFY(link->realPlay(WId(1), 1)); // 100
    QCOMPARE(link->previewHandle(1), 100);
    QVERIFY(link->realPlay(WId(1), 1)); // 101
    QCOMPARE(link->previewHandle(1), 101);
    for (int channel : {0, 2, 5})
        QCOMPARE(link->previewHandle(channel), -1);
    link->logout();
    QCOMPARE(link->previewHandle(1), -1);

    const auto calls = FakeSdk::calls();
    QCOMPARE(
        FakeSdk::callNames(),
        (Names{"CamNet_SetConnectTime", "CamNet_SetReconnect", "CamNet_Login", "CamNet_RealPlay",
               "CamNet_StopRealPlay", "CamNet_RealPlay", "CamNet_StopRealPlay", "CamNet_Logout"}));
    QCOMPARE(calls[4].args, std::vector<int64_t>{100});
    QCOMPARE(calls[6].args, std::vector<int64_t>{101});
}

void TestCameralInteract::failedPreviewIsNotStoppedAtLogout()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    FakeSdk::pushFailure("CamNet_RealPlay", CAMNET_ERR_CHANNEL_UNAVAILABLE);
    QVERIFY(!link->realPlay(WId(1), 1));
    QCOMPARE(link->previewHandle(1), -1);
    QVERIFY(!link->realPlay(WId(1), 5));
    link->logout();
    QCOMPARE(FakeSdk::calls("CamNet_RealPlay").size(), size_t(1));
    QCOMPARE(FakeSdk::calls("CamNet_StopRealPlay").size(), size_t(0));
    QCOMPARE(FakeSdk::calls("CamNet_GetLastError").size(), size_t(0));
    QCOMPARE(FakeSdk::calls("CamNet_Logout").size(), size_t(1));
}

void TestCameralInteract::secondLogoutCallsNothing()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login(QStringLiteral("127.0.0.1"), 8000, QString(), QString()), 0);
    QVERIFY(link->realPlay(WId(1), 1));
    link->logout();
    FakeSdk::reset();
    link->logout();
    QVERIFY(FakeSdk::calls().empty());
    QCOMPARE(link->loginId(), -1);
}

QTEST_GUILESS_MAIN(TestCameralInteract)
#include "tst_cameralinteract.moc"

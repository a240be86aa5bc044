// The SDK's MJPEG reframer on its own: for each shape in which cameras send
// their parts, every frame comes out whole before any byte of the next one
// has gone in, however the bytes are cut; and a stream that would grow memory
// without end is refused.
#include "preview/mjpeg/multipartreframer.h"

#include <QtTest>

#include <string>
#include <vector>

namespace {

const std::string boundary = "camsimframe";

std::string segment(unsigned char marker, const std::string &payload)
{
    const size_t length = payload.size() + 2;
    return std::string("\xff") + char(marker) + char(length >> 8) + char(length & 0xff) + payload;
}

// A small JPEG whose end is found only by walking its markers: an APP1
// thumbnail with an end-of-image marker of its own, and coded data with a
// stuffed byte, a restart marker and fill bytes before the real end.
std::string jpeg(int n)
{
    const std::string thumbnail = std::string("\xff\xd8", 2) + segment(0xdb, "q") +
                                  std::string("\xff\xda\x00\x03\x01\x55\xff\xd9", 8);
    std::string coded = std::string("\x12\xff\x00\x34\xff\xd3\x56", 7) + char('a' + n % 26);
    coded += std::string(size_t(40 + n * 7), char(0x5a));
    return std::string("\xff\xd8", 2) + segment(0xe1, std::string("Exif\0\0", 6) + thumbnail) +
           segment(0xdb, std::string(65, char(n))) + segment(0xda, std::string("\x01\x01\x00", 3)) +
           coded + std::string("\xff\xff\xd9", 3);
}

std::string canonical(const std::string &body)
{
    return "--" + boundary +
           "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body + "\r\n";
}

struct Stream
{
    std::string bytes;
    std::vector<size_t> frameEnds; // just past each JPEG's last byte
    std::string expected;
};

enum Shape
{
    Standard,
    NoLength,
    LateCrlf,
    LooseNoLength
};

Stream makeStream(Shape shape)
{
    const std::string eol = shape == LooseNoLength ? "\n" : "\r\n";
    Stream s;
    if (shape == LooseNoLength)
        s.bytes = "preamble a camera may send\n";
    for (int i = 0; i < 3; ++i) {
        const std::string body = jpeg(i);
        if (shape == LateCrlf && i > 0)
            s.bytes += "\r\n";
        s.bytes += "--" + boundary + eol;
        s.bytes += shape == LooseNoLength ? "content-TYPE:image/jpeg" + eol
                                          : "Content-Type: image/jpeg" + eol;
        if (shape == Standard || shape == LateCrlf)
            s.bytes += "Content-Length: " + std::to_string(body.size()) + eol;
        s.bytes += eol + body;
        s.frameEnds.push_back(s.bytes.size());
        if (shape != LateCrlf)
            s.bytes += eol;
        s.expected += canonical(body);
    }
    return s;
}

int partsIn(const std::string &out)
{
    int parts = 0;
    for (size_t at = out.find("--" + boundary); at != std::string::npos;
         at = out.find("--" + boundary, at + 1))
        ++parts;
    return parts;
}

bool feed(MultipartReframer &reframer, const std::string &bytes, size_t from, size_t to,
          std::string *out)
{
    return reframer.feed(reinterpret_cast<const uint8_t *>(bytes.data()) + from, to - from, out);
}

} // namespace

class TestMultipartReframer : public QObject
{
    Q_OBJECT

private slots:
    void releasesEachFrameBeforeTheNext_data();
    void releasesEachFrameBeforeTheNext();
    void refusesWhatWouldGrowWithoutBound_data();
    void refusesWhatWouldGrowWithoutBound();
};

void TestMultipartReframer::releasesEachFrameBeforeTheNext_data()
{
    QTest::addColumn<int>("shape");
    QTest::newRow("standard") << int(Standard);
    QTest::newRow("no Content-Length") << int(NoLength);
    QTest::newRow("CR LF sent with the next boundary") << int(LateCrlf);
    QTest::newRow("no Content-Length, preamble, LF only, mixed-case headers") << int(LooseNoLength);
}

void TestMultipartReframer::releasesEachFrameBeforeTheNext()
{
    QFETCH(int, shape);
    const Stream s = makeStream(Shape(shape));

    // Byte by byte: frame N comes out with its last byte, not one byte later
    // (the thumbnail's end-of-image marker comes earlier and must not count).
    MultipartReframer reframer;
    std::string out;
    for (size_t fed = 1; fed <= s.bytes.size(); ++fed) {
        QVERIFY2(feed(reframer, s.bytes, fed - 1, fed, &out), reframer.error().c_str());
        int whole = 0;
        for (size_t end : s.frameEnds)
            whole += end <= fed ? 1 : 0;
        if (partsIn(out) != whole)
            QFAIL(qPrintable(QStringLiteral("%1 parts out after %2 bytes, expected %3")
                                 .arg(partsIn(out))
                                 .arg(fed)
                                 .arg(whole)));
    }
    QCOMPARE(QByteArray::fromStdString(out), QByteArray::fromStdString(s.expected));

    // Cut in two at every byte: the same parts, and each as soon as it is whole.
    for (size_t cut = 0; cut <= s.bytes.size(); ++cut) {
        MultipartReframer split(boundary);
        std::string first;
        QVERIFY(feed(split, s.bytes, 0, cut, &first));
        int whole = 0;
        for (size_t end : s.frameEnds)
            whole += end <= cut ? 1 : 0;
        QCOMPARE(partsIn(first), whole);
        std::string rest = first;
        QVERIFY(feed(split, s.bytes, cut, s.bytes.size(), &rest));
        QCOMPARE(QByteArray::fromStdString(rest), QByteArray::fromStdString(s.expected));
    }
}

void TestMultipartReframer::refusesWhatWouldGrowWithoutBound_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("filler");
    const QByteArray part = "--b\r\nContent-Type: image/jpeg\r\n";
    QTest::newRow("Content-Length over 8 MiB")
        << part + "Content-Length: " + QByteArray::number(8 * 1024 * 1024 + 1) + "\r\n\r\n"
        << QByteArray();
    QTest::newRow("no Content-Length and no end")
        << part + "\r\n\xff\xd8\xff\xda\x00\x02" << QByteArray(64 * 1024, 'x');
    QTest::newRow("headers without end") << part << QByteArray("X-Pad: y\r\n").repeated(100);
    QTest::newRow("no boundary line") << QByteArray() << QByteArray(4096, 'x');
}

void TestMultipartReframer::refusesWhatWouldGrowWithoutBound()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, filler);
    MultipartReframer reframer;
    std::string out;
    bool ok = reframer.feed(reinterpret_cast<const uint8_t *>(head.constData()),
                            size_t(head.size()), &out);
    // Fed in the chunks a socket hands over, far past any bound.
    for (int i = 0; ok && !filler.isEmpty() && i < 200 * 1024 * 1024 / filler.size(); ++i)
        ok = reframer.feed(reinterpret_cast<const uint8_t *>(filler.constData()),
                           size_t(filler.size()), &out);
    QVERIFY(!ok);
    QVERIFY(!reframer.error().empty());
    QVERIFY(out.empty());
    // Refused for good: what follows is not read as a fresh stream.
    const std::string next = canonical(jpeg(0));
    QVERIFY(!reframer.feed(reinterpret_cast<const uint8_t *>(next.data()), next.size(), &out));
    QVERIFY(out.empty());
}

QTEST_APPLESS_MAIN(TestMultipartReframer)
#include "tst_multipartreframer.moc"

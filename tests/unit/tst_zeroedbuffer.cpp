// The exchange's reply buffers: each one arrives zeroed over its whole size,
// even right after an earlier one of the same size was filled and released,
// and every byte of it can be written.
#include "zeroedbuffer.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

class TestZeroedBuffer : public QObject
{
    Q_OBJECT

private slots:
    void freshBuffersAreZeroAfterDirtyOnes_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("status buffer") << 16 * 1024;
        QTest::newRow("just below the mapped size") << 256 * 1024 - 1;
        QTest::newRow("reply buffer") << 1024 * 1024;
        QTest::newRow("odd size") << 1024 * 1024 + 3;
    }

    void freshBuffersAreZeroAfterDirtyOnes()
    {
        QFETCH(int, size);
        for (int round = 0; round < 3; ++round) {
            ZeroedBuffer buffer{size_t(size)};
            QVERIFY(buffer.get());
            char *data = buffer.get();
            QVERIFY(std::all_of(data, data + size, [](char c) { return c == 0; }));
            std::memset(data, 0x5a, size_t(size));
            QCOMPARE(int(data[size - 1]), 0x5a);
        }
    }

    void emptyBufferIsUsable()
    {
        ZeroedBuffer buffer(0);
        QVERIFY(buffer.get());
    }
};

QTEST_GUILESS_MAIN(TestZeroedBuffer)
#include "tst_zeroedbuffer.moc"

#include "FakeDialogs.h"
#include "TPacketWriter.h"

#include <QTest>

using namespace torvane;

class TestPacketWriter : public QObject {
    Q_OBJECT
private slots:
    void emptyWorkspace();
};

void TestPacketWriter::emptyWorkspace()
{
    TWorkspace ws;
    QVERIFY(writePacket(ws).startsWith("<?xml"));
}

QTEST_GUILESS_MAIN(TestPacketWriter)
#include "TestPacketWriter.moc"

#include <QTest>

class TestPacketFile : public QObject {
    Q_OBJECT
private slots:
};

QTEST_GUILESS_MAIN(TestPacketFile)
#include "TestPacketFile.moc"

#include <QTest>

class TestPacketReader : public QObject {
    Q_OBJECT
private slots:
};

QTEST_GUILESS_MAIN(TestPacketReader)
#include "TestPacketReader.moc"

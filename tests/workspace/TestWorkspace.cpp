#include "FakeDialogs.h"
#include "TWorkspace.h"

#include <QTest>

using namespace torvane;

class TestWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initialState();
};

void TestWorkspace::initialState()
{
    TWorkspace ws;
    ws.ResetWorkspace();
    QCOMPARE(ws.SG_Field.colWidth(2), 351);
}

QTEST_GUILESS_MAIN(TestWorkspace)
#include "TestWorkspace.moc"

#include "FakeDialogs.h"
#include "TMainForm.h"

#include <QTest>

using namespace torvane;

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void startUp();
};

void TestMainForm::startUp()
{
    FakeDialogs dialogs;
    TMainForm form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(783, 583));
}

QTEST_MAIN(TestMainForm)
#include "TestMainForm.moc"

#include "FakeWindowDialogs.h"
#include "dialogs/TErrorHandler.h"

#include <QTest>

#include <functional>
#include <new>

using namespace torvane;

class TestErrorHandler : public QObject {
    Q_OBJECT
private slots:
    void failureShownAndProgramGoesOn_data();
    void failureShownAndProgramGoesOn();
};

void TestErrorHandler::failureShownAndProgramGoesOn_data()
{
    QTest::addColumn<std::function<void()>>("fault");
    QTest::addColumn<QStringList>("errors");

    QTest::newRow("no fault") << std::function<void()>([] {}) << QStringList();
    QTest::newRow("failure of a service")
        << std::function<void()>([] { throw TFailure(QStringLiteral("ファイル x は開けません")); })
        << QStringList{QStringLiteral("ファイル x は開けません")};
    // Used to pass the handler and abort the program, taking the unsaved work with it.
    QTest::newRow("out of memory") << std::function<void()>([] { throw std::bad_alloc(); })
                                   << QStringList{QStringLiteral("メモリが足りないため、操作を完了できませんでした")};
    QTest::newRow("array too long") << std::function<void()>([] { throw std::bad_array_new_length(); })
                                    << QStringList{QStringLiteral("メモリが足りないため、操作を完了できませんでした")};
}

void TestErrorHandler::failureShownAndProgramGoesOn()
{
    QFETCH(std::function<void()>, fault);
    QFETCH(QStringList, errors);

    FakeWindowDialogs dialogs;
    const TErrorHandler handler(dialogs);
    QStringList done;
    handler.run([&] {
        done.append(QStringLiteral("before"));
        fault();
        done.append(QStringLiteral("after"));
    });
    // What the handler did before the fault stays done; the rest is left undone.
    QCOMPARE(done, errors.isEmpty() ? QStringList({"before", "after"}) : QStringList{"before"});
    QCOMPARE(dialogs.errors, errors);
    // The next handler runs as usual.
    handler.run([&] { done.append(QStringLiteral("next")); });
    QCOMPARE(done.last(), QStringLiteral("next"));
    QCOMPARE(dialogs.errors, errors);
}

QTEST_GUILESS_MAIN(TestErrorHandler)
#include "TestErrorHandler.moc"

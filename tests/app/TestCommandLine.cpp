#include <QProcess>
#include <QTest>

// The program run as a shell runs it, without a display: what it prints and its exit status.
class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void answersWithoutADisplay_data();
    void answersWithoutADisplay();
};

void TestCommandLine::answersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString version = QStringLiteral("Torvane " TORVANE_VERSION "\n");
    QTest::newRow("help") << QStringList{"--help"} << "C.UTF-8" << 0 << "Usage: torvane [FILE]\n"
                          << "";
    QTest::newRow("help in Japanese") << QStringList{"-h"} << "ja_JP.UTF-8" << 0 << "使い方: torvane [ファイル]\n"
                                      << "";
    QTest::newRow("version") << QStringList{"--version"} << "C.UTF-8" << 0 << version << "";
    QTest::newRow("version after a Qt option")
        << QStringList{"-style", "fusion", "-v"} << "C.UTF-8" << 0 << version << "";
    QTest::newRow("two files") << QStringList{"a.xml", "b.xml"} << "C.UTF-8" << 2 << ""
                               << "torvane: only one FILE can be given (a.xml, b.xml)\n";
    QTest::newRow("two files in Japanese") << QStringList{"a.xml", "--", "-b.xml"} << "ja_JP.UTF-8" << 2 << ""
                                           << "torvane: 開けるファイルは一つだけです（a.xml、-b.xml）\n";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "C.UTF-8" << 2 << ""
                                    << "torvane: unknown option '--bogus'\n";
    QTest::newRow("check without a file") << QStringList{"--check"} << "C.UTF-8" << 2 << ""
                                          << "torvane: --check needs a FILE to check\n";
}

void TestCommandLine::answersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, lang);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES", "LANGUAGE"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("LANG"), lang);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TORVANE_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString printed = QString::fromUtf8(program.readAllStandardOutput());
    const QString complaint = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.startsWith(out), qPrintable(printed));
    QVERIFY2(err.isEmpty() ? complaint.isEmpty() : complaint.startsWith(err), qPrintable(complaint));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"

// One instance per program: a second process hands over to the first and ends.

#include "CheckPrevious.h"

#include "TestSupport.h"

#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QTest>
#include <QUuid>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondProcessBringsTheFirstForward()
    {
        const QString name = u"valmora-test-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
        TCheckPrevious first(name);
        int activations = 0;
        first.OnActivate = [&] { ++activations; };
        QVERIFY(!first.CheckPrevious());

        QProcess second;
        second.start(QString::fromUtf8(VALMORA_INSTANCE_PROBE), {name});
        QVERIFY(second.waitForStarted());
        // The first keeps serving its event loop while the second asks.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(activations, 1, 5000);
    }

    void staleSocketOfADeadInstanceIsTakenOver()
    {
        const QString name = u"valmora-test-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
        {
            // A socket file left behind by a process that died, without its lock.
            QLocalServer dead;
            dead.setSocketOptions(QLocalServer::UserAccessOption);
            QVERIFY(dead.listen(name));
            dead.setMaxPendingConnections(0);
            // Leave the file: close would remove it, so only stop accepting.
            QProcess probe;
            probe.start(QString::fromUtf8(VALMORA_INSTANCE_PROBE), {name});
            QVERIFY(probe.waitForFinished(10000));
            QCOMPARE(probe.exitCode(), 3); // without the lock the listener is not an instance
        }
        TCheckPrevious first(name);
        QVERIFY(!first.CheckPrevious());
    }

    void theProgramRunsOnce()
    {
        test::ScopedSandbox box;
        QDir().mkpath(box.path(u"config/valmora"_s));
        QDir().mkpath(box.path(u"etc/valmora"_s));
        {
            QFile user(box.path(u"config/valmora/user.reg"_s));
            QVERIFY(user.open(QIODevice::WriteOnly));
            user.write("[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\r\n\"SearchKind\"=dword:00000000\r\n"
                       "\"Minimize to tray\"=dword:00000000\r\n\"Interval\"=dword:00000708\r\n");
            QFile machine(box.path(u"etc/valmora/machine.reg"_s));
            QVERIFY(machine.open(QIODevice::WriteOnly));
            machine.write("[HKEY_LOCAL_MACHINE\\Software\\Quillmoor\\VALMORA]\r\n\"FirstRun\"=dword:00000000\r\n");
        }
        QDir().mkpath(box.path(u"recordings"_s));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"VALMORA_RECORDINGS"_s, box.path(u"recordings"_s));

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QString::fromUtf8(VALMORA_PROGRAM), {});
        QVERIFY(first.waitForStarted());
        // The first is the instance once its state file is there (its start has run).
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(box.path(u"appdata/Quillmoor/Valmora/vm/valmora.vm"_s)), 20000);

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QString::fromUtf8(VALMORA_PROGRAM), {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        if (!first.waitForFinished(10000)) {
            first.kill();
            first.waitForFinished(5000);
        }
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"

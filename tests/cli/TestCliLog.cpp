// valmora-cli's log as a user meets it: on stderr, one stamp per line, and the
// trace switch of the environment.
#include "foundation/TextFile.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

struct CliRun
{
    int exitCode = -1;
    QStringList errorLines;
    QStringList logLines; // every line of the log files the run left
};

// One IP scan of 127.0.0.1 against a DNS server port nobody listens on, so
// the lookup fails at once and the log gets an exception entry.
CliRun scanAgainstAClosedPort(const QTemporaryDir &box, const std::optional<QString> &trace)
{
    quint16 closedPort = 0;
    {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(u"127.0.0.1"_s), 0))
            return {};
        closedPort = probe.localPort();
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"VALMORA_COMMON_APPDATA"_s, box.path() + u"/appdata"_s);
    env.insert(u"VALMORA_MACHINE_CONFIG"_s, box.path() + u"/etc"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, box.path() + u"/config"_s);
    env.insert(u"VALMORA_RESOLV_CONF"_s, box.path() + u"/resolv.conf"_s);
    env.remove(u"VALMORA_LOG_TRACE"_s);
    if (trace)
        env.insert(u"VALMORA_LOG_TRACE"_s, *trace);
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QString::fromUtf8(VALMORA_CLI),
              {u"scan"_s, u"--source"_s, u"ip"_s, u"--ranges"_s, u"127.0.0.1-127.0.0.1"_s, u"--dns-server"_s,
               u"127.0.0.1:%1"_s.arg(closedPort), u"--list"_s});
    CliRun run;
    if (!cli.waitForFinished(60000)) {
        cli.kill();
        cli.waitForFinished();
        return run;
    }
    run.exitCode = cli.exitCode();
    run.errorLines = QString::fromUtf8(cli.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    QDirIterator logs(box.path() + u"/appdata/Quillmoor/Valmora/Log"_s, QDir::Files);
    while (logs.hasNext())
        if (const auto bytes = ReadWholeFile(logs.next()))
            run.logLines += SplitLines(DecodeText(*bytes));
    return run;
}

} // namespace

TEST(CliLog, ErrorLinesCarryOneStampAndTheLogFileKeepsItsForm)
{
    QTemporaryDir box;
    const CliRun run = scanAgainstAClosedPort(box, std::nullopt);
    ASSERT_EQ(run.exitCode, 0) << run.errorLines.join(u'\n').toStdString();
    ASSERT_EQ(run.errorLines.size(), 1) << "the trace is off by default: " << run.errorLines.join(u'\n').toStdString();
    const QString line = run.errorLines.first();
    EXPECT_TRUE(line.startsWith(u"valmora-cli: "_s)) << line.toStdString();
    EXPECT_TRUE(line.contains(u": Place: 0. Reverse lookup of 127.0.0.1"_s)) << line.toStdString();
    EXPECT_EQ(line.count(u"Place:"_s), 1) << line.toStdString();
    // The log file under the sandbox keeps the exception entry with both frames.
    ASSERT_EQ(run.logLines.size(), 1) << run.logLines.join(u'\n').toStdString();
    EXPECT_EQ(run.logLines.first().count(u"Place:"_s), 2) << run.logLines.first().toStdString();
}

TEST(CliLog, TheEnvironmentSwitchesTheTraceOn)
{
    struct Case
    {
        const char *value;
        bool traced;
        bool warned;
    };
    for (const Case c : {Case{"1", true, false}, Case{"off", false, false}, Case{"maybe", false, true}}) {
        SCOPED_TRACE(c.value);
        QTemporaryDir box;
        const CliRun run = scanAgainstAClosedPort(box, QString::fromLatin1(c.value));
        ASSERT_EQ(run.exitCode, 0) << run.errorLines.join(u'\n').toStdString();
        const bool traced = run.errorLines.filter(u"Place: 0. Range count 1"_s).size() == 1;
        EXPECT_EQ(traced, c.traced) << run.errorLines.join(u'\n').toStdString();
        EXPECT_EQ(run.logLines.filter(u"Range count 1"_s).size() == 1, c.traced);
        EXPECT_EQ(run.errorLines.filter(u"VALMORA_LOG_TRACE"_s).size() == 1, c.warned)
            << run.errorLines.join(u'\n').toStdString();
        EXPECT_EQ(run.errorLines.filter(u"Reverse lookup of 127.0.0.1"_s).size(), 1)
            << "exception entries are shown either way";
    }
}

// The command channel: a program run with the alert in its environment and
// the alert's JSON on its standard input, ended when it overruns its time.
#include "AlertChannels.h"

#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

namespace {

class TCommandChannel final : public TAlertChannel
{
public:
    explicit TCommandChannel(TCommandSettings settings)
        : m_settings(std::move(settings))
    {
    }
    QString Name() const override { return u"command"_s; }

    bool Send(const TAlert &alert, QString &error) override
    {
        QStringList words = QProcess::splitCommand(m_settings.Command);
        if (words.isEmpty()) {
            error = u"no command is set"_s;
            return false;
        }
        const QString program = words.takeFirst();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VALMORA_EVENT"_s, EventName(alert.Event));
        env.insert(u"VALMORA_COMPUTER"_s, alert.Computer);
        env.insert(u"VALMORA_DRIVE_MODEL"_s, alert.DriveModel);
        env.insert(u"VALMORA_DRIVE_SERIAL"_s, alert.DriveSerial);
        env.insert(u"VALMORA_DRIVE_NAME"_s, alert.DriveName);
        QStringList reasons;
        if (!alert.Reason.isEmpty())
            reasons << alert.Reason;
        QStringList ids;
        for (const TAlertAttribute &a : alert.Attributes) {
            reasons << u"%1 %2%3"_s.arg(a.Id).arg(a.State, a.Reason.isEmpty() ? QString() : u": "_s + a.Reason);
            ids << QString::number(a.Id);
        }
        env.insert(u"VALMORA_REASON"_s, reasons.join(u"; "_s));
        env.insert(u"VALMORA_ATTRIBUTES"_s, ids.join(u' '));
        env.insert(u"VALMORA_SUBJECT"_s, alert.Subject());
        env.insert(u"VALMORA_TIME"_s, alert.Time.toOffsetFromUtc(alert.Time.offsetFromUtc()).toString(Qt::ISODate));
        env.insert(u"VALMORA_ALERT_ID"_s, alert.Id);

        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, words);
        if (!process.waitForStarted(10000)) {
            error = u"command \"%1\" could not be started: %2"_s.arg(program, process.errorString());
            return false;
        }
        process.write(QJsonDocument(alert.ToJson()).toJson());
        process.closeWriteChannel();
        const int timeoutMs = std::max(1, m_settings.TimeoutSeconds) * 1000;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(5000);
            error = u"command \"%1\" did not end within %2 s and was stopped"_s.arg(program).arg(timeoutMs / 1000);
            return false;
        }
        if (process.exitStatus() != QProcess::NormalExit) {
            error = u"command \"%1\" crashed"_s.arg(program);
            return false;
        }
        if (process.exitCode() != 0) {
            const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed().section(u'\n', 0, 0);
            error = u"command \"%1\" ended with exit code %2"_s.arg(program).arg(process.exitCode());
            if (!said.isEmpty())
                error += u": "_s + said.left(300);
            return false;
        }
        return true;
    }

private:
    TCommandSettings m_settings;
};

} // namespace

std::unique_ptr<TAlertChannel> CreateCommandChannel(TCommandSettings settings)
{
    return std::make_unique<TCommandChannel>(std::move(settings));
}

} // namespace valmora::alerts

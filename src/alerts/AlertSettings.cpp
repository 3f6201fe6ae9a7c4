#include "AlertSettings.h"

#include "foundation/Options.h"
#include "foundation/PasswordVault.h"
#include "foundation/RegistryHelper.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

// Spelt out: another file's static (TOptions::KeyPath) may not be made yet here.
const QString TAlertSettings::KeyPath = u"Software\\Quillmoor\\VALMORA\\Alerts"_s;

namespace {

constexpr TRootKey HKCU = TRootKey::CurrentUser;
const QString kPasswordName = u"SmtpP"_s;

QString readString(const QString &name)
{
    return TRegistryHelper::ReadString(TAlertSettings::KeyPath, name, HKCU, QString());
}

QString readSmtpPassword()
{
    if (const auto vault = InstalledPasswordVault())
        if (auto password = vault->Read(kPasswordName))
            return *password;
    return readString(kPasswordName);
}

void writeSmtpPassword(const QString &value)
{
    if (value.isEmpty() && !InstalledPasswordVault()) {
        TRegistryHelper::DeleteValue(TAlertSettings::KeyPath, kPasswordName, HKCU);
        return;
    }
    if (const auto vault = InstalledPasswordVault(); vault && vault->Write(kPasswordName, value)) {
        TRegistryHelper::DeleteValue(TAlertSettings::KeyPath, kPasswordName, HKCU);
        return;
    }
    TRegistryHelper::WriteString(TAlertSettings::KeyPath, kPasswordName, HKCU, value);
}

QString urlProblem(const QString &what, const QString &url, const QStringList &schemes)
{
    const QUrl u(url, QUrl::StrictMode);
    if (u.isValid() && !u.host().isEmpty() && schemes.contains(u.scheme().toLower()))
        return QString();
    // Only what may be shown: a URL without a host holds no credentials either.
    const QString shown = u.isValid() && !u.host().isEmpty() ? SafeUrl(url) : url.left(60);
    QStringList forms;
    for (const QString &scheme : schemes)
        forms << scheme + u"://HOST[:PORT]"_s;
    return u"%1 URL \"%2\" is not of the form %3"_s.arg(what, shown, forms.join(u" or "_s));
}

} // namespace

bool IsMailAddress(const QString &text)
{
    static const QRegularExpression re(u"^[^\\s@<>(),;:\"\\[\\]\\\\]+@[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?$"_s);
    return re.match(text).hasMatch();
}

QStringList SplitAddresses(const QString &text)
{
    QStringList list = text.split(QRegularExpression(u"[,;\\s]+"_s), Qt::SkipEmptyParts);
    return list;
}

TAlertSettings TAlertSettings::Read()
{
    TAlertSettings s;
    // Reading a value adds its key to the store: with no alert settings yet,
    // the defaults hold and the file stays as it is.
    if (TRegistryStore(HKCU).findKey(KeyPath) == nullptr)
        return s;
    s.Desktop = TRegistryHelper::ReadBool(KeyPath, u"Desktop"_s, HKCU, true);
    s.NotReadHours = std::max(0, TRegistryHelper::ReadInteger(KeyPath, u"NotReadHours"_s, HKCU, 0));
    s.Smtp.Url = readString(u"SmtpUrl"_s).trimmed();
    s.Smtp.RequireStartTls = TRegistryHelper::ReadBool(KeyPath, u"SmtpStartTls"_s, HKCU, true);
    s.Smtp.User = readString(u"SmtpUser"_s);
    s.Smtp.Password = s.Smtp.Url.isEmpty() ? QString() : readSmtpPassword();
    s.Smtp.From = readString(u"SmtpFrom"_s).trimmed();
    s.Smtp.To = SplitAddresses(readString(u"SmtpTo"_s));
    s.Smtp.CaFile = readString(u"CaFile"_s).trimmed();
    s.Webhook.Url = readString(u"WebhookUrl"_s).trimmed();
    s.Webhook.CaFile = s.Smtp.CaFile;
    s.Command.Command = readString(u"Command"_s).trimmed();
    s.Command.TimeoutSeconds = std::clamp(TRegistryHelper::ReadInteger(KeyPath, u"CommandTimeout"_s, HKCU, 30), 1, 3600);
    return s;
}

void TAlertSettings::Write() const
{
    TRegistryHelper::WriteBool(KeyPath, u"Desktop"_s, HKCU, Desktop);
    TRegistryHelper::WriteInteger(KeyPath, u"NotReadHours"_s, HKCU, std::max(0, NotReadHours));
    TRegistryHelper::WriteString(KeyPath, u"SmtpUrl"_s, HKCU, Smtp.Url);
    TRegistryHelper::WriteBool(KeyPath, u"SmtpStartTls"_s, HKCU, Smtp.RequireStartTls);
    TRegistryHelper::WriteString(KeyPath, u"SmtpUser"_s, HKCU, Smtp.User);
    writeSmtpPassword(Smtp.Password);
    TRegistryHelper::WriteString(KeyPath, u"SmtpFrom"_s, HKCU, Smtp.From);
    TRegistryHelper::WriteString(KeyPath, u"SmtpTo"_s, HKCU, Smtp.To.join(u", "_s));
    TRegistryHelper::WriteString(KeyPath, u"CaFile"_s, HKCU, Smtp.CaFile);
    TRegistryHelper::WriteString(KeyPath, u"WebhookUrl"_s, HKCU, Webhook.Url);
    TRegistryHelper::WriteString(KeyPath, u"Command"_s, HKCU, Command.Command);
    TRegistryHelper::WriteInteger(KeyPath, u"CommandTimeout"_s, HKCU, Command.TimeoutSeconds);
}

QStringList TAlertSettings::Problems() const
{
    QStringList problems;
    if (!Smtp.Url.isEmpty()) {
        if (const QString p = urlProblem(u"The SMTP server"_s, Smtp.Url, {u"smtp"_s, u"smtps"_s}); !p.isEmpty())
            problems << p;
        if (!IsMailAddress(Smtp.From))
            problems << u"The sender \"%1\" is no mail address (name@domain)"_s.arg(Smtp.From);
        if (Smtp.To.isEmpty())
            problems << u"No recipient is set for the e-mail alerts"_s;
        for (const QString &to : Smtp.To)
            if (!IsMailAddress(to))
                problems << u"The recipient \"%1\" is no mail address (name@domain)"_s.arg(to);
        if (Smtp.User.isEmpty() != Smtp.Password.isEmpty())
            problems << u"The SMTP user and password must be given both or neither"_s;
    }
    if (!Webhook.Url.isEmpty())
        if (const QString p = urlProblem(u"The webhook"_s, Webhook.Url, {u"http"_s, u"https"_s}); !p.isEmpty())
            problems << p;
    if (!Smtp.CaFile.isEmpty() && !QFileInfo(Smtp.CaFile).isReadable())
        problems << u"The certificate file \"%1\" cannot be read"_s.arg(Smtp.CaFile);
    if (!Command.Command.isEmpty()) {
        const QStringList words = QProcess::splitCommand(Command.Command);
        const QString program = words.isEmpty() ? QString() : words.first();
        const bool found = program.contains(u'/') ? QFileInfo(program).isExecutable()
                                                  : !QStandardPaths::findExecutable(program).isEmpty();
        if (!found)
            problems << u"The alert command \"%1\" is no program that can be run"_s.arg(program);
    }
    return problems;
}

std::vector<std::unique_ptr<TAlertChannel>> CreateChannels(const TAlertSettings &settings,
                                                           std::function<void(const TAlert &)> desktop)
{
    std::vector<std::unique_ptr<TAlertChannel>> channels;
    if (settings.Desktop && desktop)
        channels.push_back(CreateDesktopChannel(std::move(desktop)));
    if (!settings.Smtp.Url.isEmpty())
        channels.push_back(CreateSmtpChannel(settings.Smtp));
    if (!settings.Webhook.Url.isEmpty())
        channels.push_back(CreateWebhookChannel(settings.Webhook));
    if (!settings.Command.Command.isEmpty())
        channels.push_back(CreateCommandChannel(settings.Command));
    return channels;
}

} // namespace valmora::alerts

#pragma once

// The ways an alert reaches a person, behind one small interface: e-mail
// (SMTP with libcurl), a webhook (an HTTP(S) POST of the alert's JSON), a
// command (the alert in its environment and the JSON on its standard input)
// and the desktop program's notice (a callback it provides).

#include "Alert.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace valmora::alerts {

class TAlertChannel
{
public:
    virtual ~TAlertChannel() = default;
    // "e-mail", "webhook", "command", "desktop": how the outbox and the log name it.
    virtual QString Name() const = 0;
    // Sends one alert; false with what went wrong in words, never a secret.
    virtual bool Send(const TAlert &alert, QString &error) = 0;
};

struct TSmtpSettings
{
    QString Url; // smtp://host[:port] or smtps://host[:port]; empty: no e-mail
    bool RequireStartTls = true; // for smtp://: refuse a server that does not offer STARTTLS
    QString User;
    QString Password;
    QString From;
    QStringList To;
    QString CaFile; // certificate authorities to trust instead of the system's
    int TimeoutSeconds = 30;
};

struct TWebhookSettings
{
    QString Url; // http:// or https://; empty: no webhook
    QString CaFile;
    int TimeoutSeconds = 30;
};

struct TCommandSettings
{
    QString Command; // a program and its arguments, quoted as in a shell; empty: none
    int TimeoutSeconds = 30;
};

// The parts of a URL that may be shown and logged: scheme, host and port,
// never a user, password, path or query (a webhook's path is often its key).
QString SafeUrl(const QString &url);

std::unique_ptr<TAlertChannel> CreateSmtpChannel(TSmtpSettings settings);
std::unique_ptr<TAlertChannel> CreateWebhookChannel(TWebhookSettings settings);
std::unique_ptr<TAlertChannel> CreateCommandChannel(TCommandSettings settings);
// The callback runs in the alerter's thread: the desktop program hands the
// alert on to its own thread.
std::unique_ptr<TAlertChannel> CreateDesktopChannel(std::function<void(const TAlert &)> show);

// The message as it goes to the server: headers and body, CR LF line ends.
QByteArray MailMessage(const TAlert &alert, const QString &from, const QStringList &to, const QDateTime &date);

} // namespace valmora::alerts

#pragma once

// The settings of alerts, in the settings store under KeyPath + "\Alerts", read
// the same way by the desktop program, valmora-cli and the headless monitor.
// The SMTP password is kept as the domain password is: in the password vault
// when one is installed, else in the owner-only settings file; never logged.

#include "AlertChannels.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace valmora::alerts {

struct TAlertSettings
{
    static const QString KeyPath; // "Software\Quillmoor\VALMORA\Alerts"

    bool Desktop = true;  // "Desktop": notices from the tray icon (desktop program only)
    int NotReadHours = 0; // "NotReadHours": 0 never
    TSmtpSettings Smtp;   // "SmtpUrl", "SmtpStartTls", "SmtpUser", "SmtpP", "SmtpFrom", "SmtpTo", "CaFile"
    TWebhookSettings Webhook; // "WebhookUrl", "CaFile"
    TCommandSettings Command; // "Command", "CommandTimeout"

    static TAlertSettings Read();
    // Raises what the settings store raises.
    void Write() const;

    // What is wrong with the settings, one sentence each naming the setting
    // and the value; empty when every channel that is set can be used.
    QStringList Problems() const;
};

// The channels that are set, the desktop notice only when the
// program gives a way to show it.
std::vector<std::unique_ptr<TAlertChannel>> CreateChannels(const TAlertSettings &settings,
                                                           std::function<void(const TAlert &)> desktop = {});

// Whether the text is one plain mail address (local@domain, no blanks or brackets).
bool IsMailAddress(const QString &text);
// "a@b, c@d; e@f" as a list.
QStringList SplitAddresses(const QString &text);

} // namespace valmora::alerts

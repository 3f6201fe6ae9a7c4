#pragma once

// One alert: what changed on which computer and drive, told the same way to
// every channel (a subject and a plain-text body for mail and the desktop, a
// JSON document for the webhook and the command).

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace valmora::alerts {

enum class TAlertEvent {
    DriveFailing, // a drive newly flagged, or flagged for something new
    Recovered,    // a flagged drive no longer flagged
    NotRead,      // a computer not read for longer than the setting allows
    Test,         // "Send a test alert"
};

// "failing", "recovered", "not-read", "test": the event's name in JSON and in
// VALMORA_EVENT; nullopt for any other text.
QString EventName(TAlertEvent event);
std::optional<TAlertEvent> EventFromName(const QString &name);

// One attribute whose verdict is not OK.
struct TAlertAttribute
{
    int Id = 0;
    QString State;  // "Failing", "Failed in past", "Warning"
    QString Reason; // in words with the numbers; may be empty
    int Current = 0;
    int Worst = 0;
    int Threshold = 0;
    qint64 Raw = 0;
    bool New = false; // not in the last alert about this drive

    bool operator==(const TAlertAttribute &) const = default;
};

struct TAlert
{
    QString Id; // unique; how the outbox follows one alert
    TAlertEvent Event = TAlertEvent::Test;
    QString Computer;
    QString DriveModel;
    QString DriveSerial;
    QString DriveName;
    std::vector<TAlertAttribute> Attributes;
    // What else there is to say: the drive's own prediction, why it recovered,
    // since when a computer was not read.
    QString Reason;
    QDateTime Time;

    bool operator==(const TAlert &) const = default;

    // "Valmora: PC1: drive failing (MODEL, serial SN)" and the like.
    QString Subject() const;
    // The plain text of a mail or notice, lines ending in "\n".
    QString Body() const;
    // The one-line summary of a desktop notice.
    QString Summary() const;

    QJsonObject ToJson() const;
    // nullopt when the object is no alert (a damaged outbox entry).
    static std::optional<TAlert> FromJson(const QJsonObject &object);
};

// A new alert of the event at the time, with a fresh Id.
TAlert MakeAlert(TAlertEvent event, const QString &computer, const QDateTime &time);

} // namespace valmora::alerts

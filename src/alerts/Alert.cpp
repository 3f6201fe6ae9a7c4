#include "Alert.h"

#include <QJsonArray>
#include <QLocale>
#include <QUuid>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

namespace {

struct EventNames
{
    TAlertEvent event;
    const char16_t *name;
    const char16_t *words;
};

constexpr EventNames kEvents[] = {
    {TAlertEvent::DriveFailing, u"failing", u"drive failing"},
    {TAlertEvent::Recovered, u"recovered", u"drive recovered"},
    {TAlertEvent::NotRead, u"not-read", u"not read"},
    {TAlertEvent::Test, u"test", u"test alert"},
};

QString eventWords(TAlertEvent event)
{
    for (const EventNames &e : kEvents)
        if (e.event == event)
            return QString::fromUtf16(e.words);
    return QString();
}

QString timeText(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), u"d MMM yyyy HH:mm:ss"_s);
}

} // namespace

QString EventName(TAlertEvent event)
{
    for (const EventNames &e : kEvents)
        if (e.event == event)
            return QString::fromUtf16(e.name);
    return QString();
}

std::optional<TAlertEvent> EventFromName(const QString &name)
{
    for (const EventNames &e : kEvents)
        if (name == QString::fromUtf16(e.name))
            return e.event;
    return std::nullopt;
}

TAlert MakeAlert(TAlertEvent event, const QString &computer, const QDateTime &time)
{
    TAlert alert;
    alert.Id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    alert.Event = event;
    alert.Computer = computer;
    alert.Time = time;
    return alert;
}

QString TAlert::Subject() const
{
    QString subject = u"Valmora: "_s;
    if (Event == TAlertEvent::Test)
        return subject + u"test alert from "_s + Computer;
    subject += Computer + u": "_s + eventWords(Event);
    if (Event == TAlertEvent::NotRead)
        return subject + u' ' + Reason;
    QStringList drive;
    if (!DriveModel.isEmpty())
        drive << DriveModel;
    if (!DriveSerial.isEmpty())
        drive << u"serial "_s + DriveSerial;
    else if (!DriveName.isEmpty())
        drive << DriveName;
    if (!drive.isEmpty())
        subject += u" ("_s + drive.join(u", "_s) + u')';
    return subject;
}

QString TAlert::Summary() const
{
    if (Event == TAlertEvent::DriveFailing && !Attributes.empty()) {
        const TAlertAttribute &a = Attributes.front();
        QString text = u"attribute %1 %2"_s.arg(a.Id).arg(a.State);
        if (!a.Reason.isEmpty())
            text += u": "_s + a.Reason;
        if (Attributes.size() > 1)
            text += u" (and %1 more)"_s.arg(Attributes.size() - 1);
        return text;
    }
    return Reason;
}

QString TAlert::Body() const
{
    QString body;
    body += u"Computer: "_s + Computer + u'\n';
    body += u"Event: "_s + eventWords(Event) + u'\n';
    if (!DriveModel.isEmpty() || !DriveSerial.isEmpty() || !DriveName.isEmpty()) {
        body += u"Drive: "_s + (DriveModel.isEmpty() ? u"(no model)"_s : DriveModel);
        body += u", serial "_s + (DriveSerial.isEmpty() ? u"(none)"_s : DriveSerial);
        if (!DriveName.isEmpty())
            body += u", "_s + DriveName;
        body += u'\n';
    }
    body += u"Time: "_s + timeText(Time) + u'\n';
    if (!Reason.isEmpty())
        body += u'\n' + Reason + u'\n';
    if (!Attributes.empty()) {
        body += u"\nAttributes not OK:\n"_s;
        for (const TAlertAttribute &a : Attributes) {
            body += u"  %1  %2"_s.arg(a.Id, 3).arg(a.State);
            if (!a.Reason.isEmpty())
                body += u": "_s + a.Reason;
            body += u" (current %1, worst %2, threshold %3, raw %4)"_s.arg(a.Current).arg(a.Worst).arg(a.Threshold)
                        .arg(a.Raw);
            if (a.New)
                body += u" [new]"_s;
            body += u'\n';
        }
    }
    return body;
}

QJsonObject TAlert::ToJson() const
{
    QJsonArray attributes;
    for (const TAlertAttribute &a : Attributes)
        attributes.append(QJsonObject{{u"Id"_s, a.Id},
                                      {u"State"_s, a.State},
                                      {u"Reason"_s, a.Reason},
                                      {u"Current"_s, a.Current},
                                      {u"Worst"_s, a.Worst},
                                      {u"Threshold"_s, a.Threshold},
                                      {u"Raw"_s, QString::number(a.Raw)},
                                      {u"New"_s, a.New}});
    const QString summary = Summary();
    const QString text = summary.isEmpty() ? Subject() : Subject() + u": "_s + summary;
    const QString time = Time.toOffsetFromUtc(Time.offsetFromUtc()).toString(Qt::ISODateWithMs);
    return QJsonObject{
        {u"Id"_s, Id},
        {u"Event"_s, EventName(Event)},
        {u"Computer"_s, Computer},
        {u"Drive"_s, QJsonObject{{u"Model"_s, DriveModel}, {u"Serial"_s, DriveSerial}, {u"Name"_s, DriveName}}},
        {u"Attributes"_s, attributes},
        {u"Reason"_s, Reason},
        {u"Time"_s, time},
        {u"Subject"_s, Subject()},
        // What chat services show of a posted document.
        {u"text"_s, text},
    };
}

std::optional<TAlert> TAlert::FromJson(const QJsonObject &object)
{
    const auto event = EventFromName(object.value(u"Event"_s).toString());
    const QDateTime time = QDateTime::fromString(object.value(u"Time"_s).toString(), Qt::ISODate);
    if (!event || !time.isValid() || object.value(u"Id"_s).toString().isEmpty())
        return std::nullopt;
    TAlert alert;
    alert.Id = object.value(u"Id"_s).toString();
    alert.Event = *event;
    alert.Computer = object.value(u"Computer"_s).toString();
    const QJsonObject drive = object.value(u"Drive"_s).toObject();
    alert.DriveModel = drive.value(u"Model"_s).toString();
    alert.DriveSerial = drive.value(u"Serial"_s).toString();
    alert.DriveName = drive.value(u"Name"_s).toString();
    alert.Reason = object.value(u"Reason"_s).toString();
    alert.Time = time;
    for (const QJsonValue &v : object.value(u"Attributes"_s).toArray()) {
        const QJsonObject a = v.toObject();
        alert.Attributes.push_back({a.value(u"Id"_s).toInt(), a.value(u"State"_s).toString(),
                                    a.value(u"Reason"_s).toString(), a.value(u"Current"_s).toInt(),
                                    a.value(u"Worst"_s).toInt(), a.value(u"Threshold"_s).toInt(),
                                    a.value(u"Raw"_s).toString().toLongLong(), a.value(u"New"_s).toBool()});
    }
    return alert;
}

} // namespace valmora::alerts

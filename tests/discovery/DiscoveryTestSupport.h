#pragma once

// Shared pieces of the discovery tests: a log kept in a sandbox with trace
// entries on, and substitutes for the platform's host information.

#include "TestSupport.h"

#include "foundation/LogSystem.h"
#include "platform/HostInfo.h"

#include <QStringList>

namespace valmora::test {

// The log's lines written since construction, each without its stamp and place
// ("IP: 10.0.0.1"); exception entries keep their inner stamp and place.
class LogCapture
{
public:
    LogCapture() : m_start(XLogSystem().Lines().size()) {}

    QStringList messages() const
    {
        QStringList out;
        const QStringList lines = XLogSystem().Lines();
        for (qsizetype i = m_start; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            const qsizetype at = line.indexOf(QStringLiteral(": Place: 0. "));
            out.append(at < 0 ? line : line.mid(at + 12));
        }
        return out;
    }
    // Exception entries: the message after the inner "Place: N. ", with its code.
    QStringList exceptions(int place = 0) const
    {
        QStringList out;
        const QString marker = QStringLiteral(": Place: %1. ").arg(place);
        for (const QString &m : messages()) {
            const qsizetype at = m.indexOf(marker);
            if (at >= 0)
                out.append(m.mid(at + marker.size()));
        }
        return out;
    }
    // Trace entries: messages that are no exception entry.
    QStringList traces() const
    {
        QStringList out;
        for (const QString &m : messages())
            if (!m.contains(QStringLiteral(": Place: ")))
                out.append(m);
        return out;
    }

private:
    qsizetype m_start;
};

class FakeHost final : public platform::THostInfo
{
public:
    QString hostName;
    platform::TPlatformNetworkParams params;

    QString HostName() const override { return hostName; }
    platform::TPlatformNetworkParams NetworkParams() const override { return params; }
};

} // namespace valmora::test

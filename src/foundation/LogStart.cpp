#include "LogStart.h"

#include "DataPaths.h"
#include "Environment.h"
#include "LogSystem.h"
#include "Options.h"

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TTraceSwitch ReadTraceSwitch()
{
    static constexpr char variable[] = "VALMORA_LOG_TRACE";
    TTraceSwitch result;
    const QString value = qEnvironmentVariable(variable).trimmed().toLower();
    if (!value.isEmpty()) {
        for (const char16_t *on : {u"1", u"true", u"yes", u"on"})
            if (value == QStringView(on))
                return {true, QString()};
        for (const char16_t *off : {u"0", u"false", u"no", u"off"})
            if (value == QStringView(off))
                return {false, QString()};
        result.problem = u"%1=\"%2\" is neither 1/true/yes/on nor 0/false/no/off; the \"LogTrace\" setting decides"_s.arg(
            QString::fromLatin1(variable), qEnvironmentVariable(variable));
    }
    result.enabled = TOptions::ReadLogTrace();
    return result;
}

void StartLog(TXLogSystem &log)
{
    const TTraceSwitch trace = ReadTraceSwitch();
    if (!trace.problem.isEmpty())
        std::fprintf(stderr, "valmora: %s\n", qUtf8Printable(trace.problem));
    log.SetEnabled(trace.enabled);
    log.SetLogFolder(DataPaths::LogFolder());
}

} // namespace valmora

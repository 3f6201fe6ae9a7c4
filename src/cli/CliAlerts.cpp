#include "CliAlerts.h"
#include "CliCommand.h"

#include "alerts/Alerter.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"


using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

void RaiseAlerts(const TCheckedComputers &checked, const QStringList &removed)
{
    auto alerter = alerts::TAlerter::FromSettings(DataPaths::DataFolder());
    if (!alerter->HasChannels())
        PrintError(u"alerts: no channel is set; changes are recorded, nothing is sent"_s);
    std::vector<alerts::TCheckedSnapshot> snapshots;
    for (const auto &computer : checked)
        snapshots.push_back(alerts::SnapshotOf(*computer));
    alerter->HandleChecked(snapshots, removed);
    // Every send ends within its own time-outs; this only bounds the sum.
    if (!alerter->WaitIdle(10 * 60 * 1000))
        PrintError(u"alerts: the channels did not finish in time; what is unsent stays in the outbox"_s);
}

} // namespace valmora::cli

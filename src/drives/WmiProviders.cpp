#include "WmiProviders.h"

#include "drives/recordings/WmiRecordings.h"

#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives {

QString RecordingsFolderFromEnvironment()
{
    return qEnvironmentVariable("VALMORA_RECORDINGS");
}

bool IsLocalComputerName(const QString &server)
{
    if (server == u"."_s || server.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        return true;
    const QString host = QSysInfo::machineHostName();
    if (host.isEmpty())
        return false;
    return server.compare(host, Qt::CaseInsensitive) == 0
           || server.compare(host.section(u'.', 0, 0), Qt::CaseInsensitive) == 0;
}

std::unique_ptr<drives::TWmiProvider> ChooseWmiProvider(const QString &server, const QString &recordingsFolder)
{
    if (!recordingsFolder.isEmpty())
        return std::make_unique<recordings::TWmiRecordingProvider>(recordingsFolder);
    if (IsLocalComputerName(server))
        return CreateLocalWmiProvider();
    return CreateRemoteWmiProvider();
}

} // namespace valmora::drives

#include "DataPaths.h"

#include "ComputerName.h"
#include "Environment.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace valmora::DataPaths {

QString DataFolder()
{
    return TWindowsFolders::CommonAppDataFolder(QString::fromUtf16(kDataSubFolder));
}

QString LogFolder()
{
    return TWindowsFolders::CommonAppDataFolder(QString::fromUtf16(kDataSubFolder) + u"\\Log"_s);
}

QString ReadoutFile(const QString &dataFolder, const QString &computer)
{
    return dataFolder + BareComputerName(computer) + u".wci"_s;
}

QString EmptyReadoutFile(const QString &readoutFile)
{
    return readoutFile + u'!';
}

QString StateFile(const QString &dataFolder)
{
    const QString folder = dataFolder + u"vm"_s;
    QDir().mkpath(folder);
    return folder + u"/valmora.vm"_s;
}

QString BaselineFile(const QString &dataFolder)
{
    return dataFolder + u"baseline.json"_s;
}

QString UserPassFile(const QString &dataFolder)
{
    return IncludeTrailingDelimiter(dataFolder) + u"userpass.valmora"_s;
}

} // namespace valmora::DataPaths

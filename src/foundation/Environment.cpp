#include "Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString IncludeTrailingDelimiter(const QString &path)
{
    if (path.isEmpty() || path.endsWith(u'/'))
        return path;
    return path + u'/';
}

QString ToLocalSubPath(const QString &subFolder)
{
    QString sub = subFolder;
    sub.replace(u'\\', u'/');
    while (sub.startsWith(u'/'))
        sub.remove(0, 1);
    return sub;
}

QString TWindowsFolders::SpecialFolder(int folderNumber)
{
    if (folderNumber != CommonAppData)
        return QString();
    const QString relocated = qEnvironmentVariable("VALMORA_COMMON_APPDATA");
    return IncludeTrailingDelimiter(relocated.isEmpty() ? u"/var/lib"_s : relocated);
}

QString TWindowsFolders::SpecialSubFolder(int folderNumber, const QString &subFolder)
{
    const QString base = SpecialFolder(folderNumber);
    if (base.isEmpty())
        return QString();
    const QString path = IncludeTrailingDelimiter(base + ToLocalSubPath(subFolder));
    QDir().mkpath(path);
    return path;
}

QString TWindowsFolders::CommonAppDataFolder(const QString &subFolder)
{
    return SpecialSubFolder(CommonAppData, subFolder);
}

QString TWindowsFolders::ProgramFile()
{
    const QFileInfo exe(u"/proc/self/exe"_s);
    const QString target = exe.symLinkTarget();
    if (!target.isEmpty())
        return target;
    return QCoreApplication::applicationFilePath();
}

QString TWindowsFolders::UserConfigFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return IncludeTrailingDelimiter(xdg.isEmpty() ? QDir::homePath() + u"/.config"_s : xdg);
}

QString TWindowsFolders::MachineConfigFolder()
{
    const QString relocated = qEnvironmentVariable("VALMORA_MACHINE_CONFIG");
    return IncludeTrailingDelimiter(relocated.isEmpty() ? u"/etc"_s : relocated);
}

QString TWindowsFolders::ProgramFolder()
{
    return IncludeTrailingDelimiter(QFileInfo(ProgramFile()).absolutePath());
}

} // namespace valmora

#include "DataFolderLock.h"

#include <QLockFile>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TDataFolderLock::TDataFolderLock(QString dataFolder)
    : m_dataFolder(std::move(dataFolder))
    , m_lock(std::make_unique<QLockFile>(LockFileName(m_dataFolder)))
{
    // A program runs for months: age alone never makes the lock stale, only
    // the end of the process that holds it.
    m_lock->setStaleLockTime(0);
}

TDataFolderLock::~TDataFolderLock() = default;

QString TDataFolderLock::LockFileName(const QString &dataFolder)
{
    return dataFolder + u"cycles.lock"_s;
}

bool TDataFolderLock::TryLock()
{
    m_problem.clear();
    if (m_lock->isLocked() || m_lock->tryLock(0))
        return true;
    if (m_lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        if (m_lock->getLockInfo(&pid, &host, &application))
            m_problem = u"the data folder %1 is in use by %2 (process %3 on %4): only one program may run its "
                        "refresh cycles"_s.arg(m_dataFolder, application.isEmpty() ? u"another program"_s : application)
                            .arg(pid)
                            .arg(host);
        else
            m_problem = u"the data folder %1 is in use by another program: only one program may run its refresh "
                        "cycles"_s.arg(m_dataFolder);
    } else {
        m_problem = u"the lock file %1 cannot be created (no permission, or the folder is missing)"_s.arg(
            LockFileName(m_dataFolder));
    }
    return false;
}

bool TDataFolderLock::IsLocked() const
{
    return m_lock->isLocked();
}

} // namespace valmora

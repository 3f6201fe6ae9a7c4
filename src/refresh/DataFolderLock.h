#pragma once

// Only one program at a time runs refresh cycles over a data folder: two would
// check the same computers twice and write the same readouts and state file.
// The desktop program and the monitor both hold this lock while they run.

#include <QString>

#include <memory>

class QLockFile;

namespace valmora {

class TDataFolderLock
{
public:
    // dataFolder with a trailing delimiter; the lock is the file "cycles.lock" in it.
    explicit TDataFolderLock(QString dataFolder);
    ~TDataFolderLock();
    TDataFolderLock(const TDataFolderLock &) = delete;
    TDataFolderLock &operator=(const TDataFolderLock &) = delete;

    // Takes the lock without waiting. A lock left by a process that ended is
    // taken over. False when another process holds it or the folder cannot
    // hold the lock file; Problem() then says which and why.
    bool TryLock();
    bool IsLocked() const;
    // "the data folder /var/lib/Quillmoor/Valmora/ is in use by valmora-monitor
    // (process 1234 on host1): only one program may run its refresh cycles".
    QString Problem() const { return m_problem; }

    static QString LockFileName(const QString &dataFolder);

private:
    QString m_dataFolder;
    std::unique_ptr<QLockFile> m_lock;
    QString m_problem;
};

} // namespace valmora

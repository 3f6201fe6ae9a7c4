#pragma once

// The window's access to the state file. Writes go to a thread of their own,
// so the window does not wait for the disk; every read first waits for the
// writes before it, so the window always reads what it wrote.

#include "refresh/StateFile.h"

namespace valmora {

class TStateStore
{
public:
    explicit TStateStore(QString dataFolder);

    QList<int> ReadStates(const QStringList &computerNames);
    void WriteState(const QString &computerName, int state);
    void WriteStates(QList<std::pair<QString, int>> states);
    bool ReadDiskModelFlag(const QString &model, bool whenUnset);
    void WriteDiskModelFlag(const QString &model, bool value);
    // Returns when every write is on disk.
    void Flush() { m_writer.Drain(); }

private:
    const QString m_dataFolder;
    TStateFileWriter m_writer;
};

} // namespace valmora

#include "StateStore.h"

namespace valmora {

TStateStore::TStateStore(QString dataFolder)
    : m_dataFolder(std::move(dataFolder))
{
}

QList<int> TStateStore::ReadStates(const QStringList &computerNames)
{
    m_writer.Drain();
    return ReadComputerStates(m_dataFolder, computerNames);
}

void TStateStore::WriteState(const QString &computerName, int state)
{
    m_writer.Post([folder = m_dataFolder, computerName, state] { WriteComputerState(folder, computerName, state); });
}

void TStateStore::WriteStates(QList<std::pair<QString, int>> states)
{
    m_writer.Post([folder = m_dataFolder, states = std::move(states)] { WriteComputerStates(folder, states); });
}

bool TStateStore::ReadDiskModelFlag(const QString &model, bool whenUnset)
{
    m_writer.Drain();
    return valmora::ReadDiskModelFlag(m_dataFolder, model, whenUnset);
}

void TStateStore::WriteDiskModelFlag(const QString &model, bool value)
{
    m_writer.Post([folder = m_dataFolder, model, value] { valmora::WriteDiskModelFlag(folder, model, value); });
}

} // namespace valmora

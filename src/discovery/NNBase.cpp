#include "NNBase.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString TNNBase::ComputerName(int index) const
{
    const QString &entry = m_computers.at(index);
    return entry.startsWith(u"\\\\"_s) ? entry.mid(2) : entry;
}

bool TNNBase::raise(const TComputerEvent &event, const QString &computerName)
{
    bool cancel = false;
    if (event)
        event(*this, computerName, cancel);
    return cancel;
}

} // namespace valmora

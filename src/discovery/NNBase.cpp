#include "NNBase.h"

#include "foundation/ComputerName.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString TNNBase::ComputerName(int index) const
{
    return BareComputerName(m_computers.at(index));
}

bool TNNBase::raise(const TComputerEvent &event, const QString &computerName)
{
    bool cancel = false;
    if (event)
        event(*this, computerName, cancel);
    return cancel;
}

} // namespace valmora

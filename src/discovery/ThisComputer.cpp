#include "ThisComputer.h"

#include "ComputerNameCheck.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString LocalComputerName(const platform::THostInfo &host)
{
    const QString name = host.HostName();
    const qsizetype dot = name.indexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString LocalComputerName()
{
    return LocalComputerName(platform::SystemHostInfo());
}

TThisComputer::TThisComputer(const platform::THostInfo &host)
    : m_host(host)
{
}

bool TThisComputer::Refresh()
{
    m_computers.clear();
    m_computers.setSorted(false);
    const QString name = AsciiLower(LocalComputerName(m_host));
    m_computers.add(NetworkComputerName(name));
    raise(OnComputerAdded, name); // Cancel means nothing for a single name
    m_computers.setSorted(true);
    return true;
}

} // namespace valmora

// The parts of the refresh thread that touch the world: kept apart so that tests
// of the cycle link their own substitutes without them.
#include "RefreshThread.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "drivedata/WmiDriveReader.h"

namespace valmora {

TRefreshThreadParts TRefreshThreadParts::System()
{
    TRefreshThreadParts parts;
    parts.Echo = CreateSystemIcmpEcho();
    parts.ReadDrives = [](const QString &computer, TDriveList &list, const QString &user, const QString &password,
                          QString *reason) { return ReadComputerDrives(computer, list, user, password, reason); };
    parts.LocalComputerName = valmora::LocalComputerName();
    return parts;
}

} // namespace valmora

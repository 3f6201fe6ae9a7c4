#include "TrayIcon.h"

#include "foundation/DataPaths.h"
#include <QAction>
#include <QMenu>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TTrayIcon::TTrayIcon(const QIcon &icon, QAction *exit, QWidget *window)
    : QSystemTrayIcon(icon, window)
{
    setObjectName(u"TrayIcon1"_s);
    setToolTip(QString::fromUtf16(kProgramCaption));
    acShowWindow = new QAction(u"Show"_s, this);
    acShowWindow->setObjectName(u"acShowWindow"_s);
    acRefreshStatus = new QAction(u"Refresh status"_s, this);
    acRefreshStatus->setObjectName(u"acRefreshStatus"_s);
    acRefreshStatus->setEnabled(false);
    pmTrayIcon = new QMenu(window);
    pmTrayIcon->setObjectName(u"pmTrayIcon"_s);
    pmTrayIcon->addAction(acShowWindow);
    pmTrayIcon->addAction(acRefreshStatus);
    pmTrayIcon->addSeparator();
    pmTrayIcon->addAction(exit);
    setContextMenu(pmTrayIcon);
    connect(acShowWindow, &QAction::triggered, this, &TTrayIcon::showRequested);
    connect(acRefreshStatus, &QAction::triggered, this, &TTrayIcon::refreshRequested);
    connect(this, &QSystemTrayIcon::activated, this, [this](ActivationReason reason) {
        // Most Linux notification areas give a single click where others give a double one.
        if (reason == DoubleClick || reason == Trigger)
            emit showRequested();
    });
}

} // namespace valmora

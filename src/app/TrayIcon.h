#pragma once

// The program's icon in the notification area and its menu. It only signals
// what the user asks for; the window decides what that does.

#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

namespace valmora {

class TTrayIcon final : public QSystemTrayIcon
{
    Q_OBJECT
public:
    // The menu ends with exit, the window's own Exit command; the window owns icon and menu.
    TTrayIcon(const QIcon &icon, QAction *exit, QWidget *window);

    QMenu *pmTrayIcon = nullptr;
    QAction *acShowWindow = nullptr;
    // Offered once there is a refresh thread to ask.
    QAction *acRefreshStatus = nullptr;

signals:
    // A click on the icon, or "Show".
    void showRequested();
    // "Refresh status": check every computer now instead of waiting for the interval.
    void refreshRequested();
};

} // namespace valmora

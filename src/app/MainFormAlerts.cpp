// The main window's part of alerts: the cycles' batches go to the alerter,
// and its desktop notices come from the tray icon.
#include "MainForm.h"

#include "TrayIcon.h"

#include <QStatusBar>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

void TMainForm::startAlerter()
{
    if (!m_parts.CreateAlerter)
        return;
    // Called in the alerter's thread: the notice is shown in the window's.
    m_alerter = m_parts.CreateAlerter(DataFolder(), [this](const alerts::TAlert &alert) {
        QMetaObject::invokeMethod(this, [this, alert] { ShowAlertNotice(alert); }, Qt::QueuedConnection);
    });
}

void TMainForm::ShowAlertNotice(const alerts::TAlert &alert)
{
    if (m_destroyed)
        return;
    m_noticeComputer = alert.Computer;
    const bool tray = m_parts.TrayAvailable && m_parts.TrayAvailable() && QSystemTrayIcon::supportsMessages();
    if (tray) {
        // The icon is out of the notification area while the window shows; the
        // notice needs it, and a click on either brings the window forward.
        TrayIcon1->show();
        TrayIcon1->showMessage(alert.Subject(), alert.Summary(),
                               alert.Event == alerts::TAlertEvent::Recovered ? QSystemTrayIcon::Information
                                                                             : QSystemTrayIcon::Warning,
                               15000);
    } else {
        statusBar()->showMessage(alert.Summary().isEmpty() ? alert.Subject() : alert.Subject() + u": "_s + alert.Summary());
    }
    emit alertNoticeShown(alert.Computer);
}

void TMainForm::AlertNoticeClicked()
{
    TrayIcon1DblClick();
    if (!m_noticeComputer.isEmpty())
        reselect(m_noticeComputer);
}

} // namespace valmora

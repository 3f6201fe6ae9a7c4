#pragma once

// The "Alerts" page of the options: which channels tell the administrator
// about a drive that turns bad, and "Send a test alert" to try them as they
// stand in the page, before they are saved.

#include "alerts/AlertSettings.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace valmora {

class TfrmAlerts final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAlerts(const alerts::TAlertSettings &settings, QWidget *owner = nullptr);

    // Shows the page modally; the settings as edited after OK, nullopt after Cancel.
    static std::optional<alerts::TAlertSettings> Execute(QWidget *owner, const alerts::TAlertSettings &settings);

    void LoadSettings(const alerts::TAlertSettings &settings);
    // What the page holds now.
    alerts::TAlertSettings Settings() const;
    // Checks the page's settings and sends a test alert through each of its
    // channels off the window's thread; lbTestResult tells how each went.
    void btnTestAlertClick();
    bool TestRunning() const { return m_testRunning; }

    QCheckBox *chbDesktop = nullptr;
    QSpinBox *seNotReadHours = nullptr;
    QLineEdit *edSmtpUrl = nullptr;
    QCheckBox *chbSmtpStartTls = nullptr;
    QLineEdit *edSmtpUser = nullptr;
    QLineEdit *edSmtpPassword = nullptr;
    QLineEdit *edSmtpFrom = nullptr;
    QLineEdit *edSmtpTo = nullptr;
    QLineEdit *edCaFile = nullptr;
    QLineEdit *edWebhookUrl = nullptr;
    QLineEdit *edCommand = nullptr;
    QSpinBox *seCommandTimeout = nullptr;
    QPushButton *btnTestAlert = nullptr;
    QLabel *lbTestResult = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

signals:
    // The test has ended; lbTestResult holds its outcome.
    void testFinished(bool allSent);

private:
    void showTestResult(const QString &text, bool allSent);

    bool m_testRunning = false;
};

} // namespace valmora

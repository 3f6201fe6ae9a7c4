#include "AlertsPage.h"

#include "FormHelpers.h"

#include "alerts/Alerter.h"
#include "foundation/LogSystem.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

QLineEdit *edit(QWidget *parent, const QString &name, const QString &placeholder = QString())
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setPlaceholderText(placeholder);
    return e;
}

// Carries a test's outcome from its worker thread back to the page; a page
// closed meanwhile is simply no longer connected.
class TAlertTestRelay final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    void finished(const QString &text, bool allSent);
};

} // namespace

TfrmAlerts::TfrmAlerts(const alerts::TAlertSettings &settings, QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmAlerts"_s);
    setWindowTitle(u"Alerts"_s);
    setFont(FormFont());

    chbDesktop = new QCheckBox(u"Show a notice on the desktop"_s, this);
    chbDesktop->setObjectName(u"chbDesktop"_s);
    seNotReadHours = new QSpinBox(this);
    seNotReadHours->setObjectName(u"seNotReadHours"_s);
    seNotReadHours->setRange(0, 24 * 365);
    seNotReadHours->setSpecialValueText(u"never"_s);
    seNotReadHours->setSuffix(u" h"_s);

    auto *mail = new QGroupBox(u"E-mail"_s, this);
    mail->setObjectName(u"gbMail"_s);
    edSmtpUrl = edit(mail, u"edSmtpUrl"_s, u"smtp://mail.example.com:587 or smtps://mail.example.com"_s);
    chbSmtpStartTls = new QCheckBox(u"Require STARTTLS (smtp://)"_s, mail);
    chbSmtpStartTls->setObjectName(u"chbSmtpStartTls"_s);
    edSmtpUser = edit(mail, u"edSmtpUser"_s);
    edSmtpPassword = edit(mail, u"edSmtpPassword"_s);
    ShowAsStars(edSmtpPassword);
    edSmtpFrom = edit(mail, u"edSmtpFrom"_s, u"valmora@example.com"_s);
    edSmtpTo = edit(mail, u"edSmtpTo"_s, u"admin@example.com, ops@example.com"_s);
    auto *mailForm = new QFormLayout(mail);
    mailForm->addRow(u"SMTP server"_s, edSmtpUrl);
    mailForm->addRow(QString(), chbSmtpStartTls);
    mailForm->addRow(u"User name"_s, edSmtpUser);
    mailForm->addRow(u"Password"_s, edSmtpPassword);
    mailForm->addRow(u"From"_s, edSmtpFrom);
    mailForm->addRow(u"To"_s, edSmtpTo);

    edCaFile = edit(this, u"edCaFile"_s, u"the system's certificate authorities"_s);
    edWebhookUrl = edit(this, u"edWebhookUrl"_s, u"https://chat.example.com/hooks/..."_s);
    edCommand = edit(this, u"edCommand"_s, u"/usr/local/bin/page-admin --urgent"_s);
    seCommandTimeout = new QSpinBox(this);
    seCommandTimeout->setObjectName(u"seCommandTimeout"_s);
    seCommandTimeout->setRange(1, 3600);
    seCommandTimeout->setSuffix(u" s"_s);

    btnTestAlert = new QPushButton(u"Send a test alert"_s, this);
    btnTestAlert->setObjectName(u"btnTestAlert"_s);
    btnTestAlert->setAutoDefault(false);
    lbTestResult = new QLabel(this);
    lbTestResult->setObjectName(u"lbTestResult"_s);
    lbTestResult->setWordWrap(true);
    lbTestResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnOk = AddButton(this, u"btnOk"_s, u"OK"_s);
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s);

    auto *form = new QFormLayout;
    form->addRow(QString(), chbDesktop);
    form->addRow(u"Tell when a computer was not read for"_s, seNotReadHours);
    auto *other = new QFormLayout;
    other->addRow(u"Certificate authorities (PEM)"_s, edCaFile);
    other->addRow(u"Webhook URL"_s, edWebhookUrl);
    other->addRow(u"Command"_s, edCommand);
    other->addRow(u"Command time-out"_s, seCommandTimeout);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnTestAlert);
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnOk);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(mail);
    layout->addLayout(other);
    layout->addWidget(lbTestResult);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    connect(btnTestAlert, &QPushButton::clicked, this, &TfrmAlerts::btnTestAlertClick);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    LoadSettings(settings);
}

std::optional<alerts::TAlertSettings> TfrmAlerts::Execute(QWidget *owner, const alerts::TAlertSettings &settings)
{
    TfrmAlerts page(settings, owner);
    if (page.exec() != QDialog::Accepted)
        return std::nullopt;
    return page.Settings();
}

void TfrmAlerts::LoadSettings(const alerts::TAlertSettings &s)
{
    chbDesktop->setChecked(s.Desktop);
    seNotReadHours->setValue(s.NotReadHours);
    edSmtpUrl->setText(s.Smtp.Url);
    chbSmtpStartTls->setChecked(s.Smtp.RequireStartTls);
    edSmtpUser->setText(s.Smtp.User);
    edSmtpPassword->setText(s.Smtp.Password);
    edSmtpFrom->setText(s.Smtp.From);
    edSmtpTo->setText(s.Smtp.To.join(u", "_s));
    edCaFile->setText(s.Smtp.CaFile);
    edWebhookUrl->setText(s.Webhook.Url);
    edCommand->setText(s.Command.Command);
    seCommandTimeout->setValue(s.Command.TimeoutSeconds);
}

alerts::TAlertSettings TfrmAlerts::Settings() const
{
    alerts::TAlertSettings s;
    s.Desktop = chbDesktop->isChecked();
    s.NotReadHours = seNotReadHours->value();
    s.Smtp.Url = edSmtpUrl->text().trimmed();
    s.Smtp.RequireStartTls = chbSmtpStartTls->isChecked();
    s.Smtp.User = edSmtpUser->text();
    s.Smtp.Password = edSmtpPassword->text();
    s.Smtp.From = edSmtpFrom->text().trimmed();
    s.Smtp.To = alerts::SplitAddresses(edSmtpTo->text());
    s.Smtp.CaFile = edCaFile->text().trimmed();
    s.Webhook.Url = edWebhookUrl->text().trimmed();
    s.Webhook.CaFile = s.Smtp.CaFile;
    s.Command.Command = edCommand->text().trimmed();
    s.Command.TimeoutSeconds = seCommandTimeout->value();
    return s;
}

void TfrmAlerts::btnTestAlertClick()
{
    if (m_testRunning)
        return;
    const alerts::TAlertSettings settings = Settings();
    if (const QStringList problems = settings.Problems(); !problems.isEmpty()) {
        for (const QString &problem : problems)
            XLogSystem().LogException(u"Test alert not sent: "_s + problem, alerts::AlertLogPlace::SendFailed);
        showTestResult(problems.join(u'\n'), false);
        return;
    }
    // The desktop notice is the window's own; the page tries what leaves the computer.
    auto channels = std::make_shared<std::vector<std::unique_ptr<alerts::TAlertChannel>>>(
        alerts::CreateChannels(settings));
    if (channels->empty()) {
        showTestResult(u"No channel is set: give an SMTP server, a webhook URL or a command."_s, false);
        return;
    }
    m_testRunning = true;
    btnTestAlert->setEnabled(false);
    lbTestResult->setText(u"Sending a test alert..."_s);
    auto *relay = new TAlertTestRelay;
    connect(relay, &TAlertTestRelay::finished, this, &TfrmAlerts::showTestResult, Qt::QueuedConnection);
    QThread *worker = QThread::create([channels, relay] {
        QStringList lines;
        bool allSent = true;
        for (const auto &r : alerts::TAlerter::SendTest(*channels, QString())) {
            lines << (r.Ok ? u"%1: sent"_s.arg(r.Channel) : u"%1: failed: %2"_s.arg(r.Channel, r.Error));
            allSent = allSent && r.Ok;
        }
        emit relay->finished(lines.join(u'\n'), allSent);
        relay->deleteLater();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void TfrmAlerts::showTestResult(const QString &text, bool allSent)
{
    m_testRunning = false;
    btnTestAlert->setEnabled(true);
    lbTestResult->setText(text);
    lbTestResult->setStyleSheet(allSent ? QString() : u"color: #b00000"_s);
    emit testFinished(allSent);
}

} // namespace valmora

#include "AlertsPage.moc"

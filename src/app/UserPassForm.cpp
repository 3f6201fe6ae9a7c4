#include "UserPassForm.h"

#include "FormHelpers.h"
#include "MessageBox.h"

#include "foundation/LogSystem.h"
#include "refresh/UserPass.h"

#include <QKeyEvent>
#include <QLabel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TfrmUserPass::TfrmUserPass(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmUserPass"_s);
    setWindowTitle(u"Insert"_s);
    setFont(FormFont());
    setFixedSize(201, 150);

    edUser = AddLabeledEdit(this, u"edUser"_s, u"User name"_s);
    edPassword = AddLabeledEdit(this, u"edPassword"_s, u"Password"_s);
    ShowAsStars(edPassword);
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s);
    btnOK = AddButton(this, u"btnOK"_s, u"OK"_s);
    // Each edit below its label; the buttons side by side at the bottom.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 6, 16, 16);
    layout->setSpacing(2);
    for (QLineEdit *edit : {edUser, edPassword}) {
        layout->addWidget(EditLabel(edit));
        layout->addWidget(edit);
        layout->addSpacing(2);
    }
    layout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnOK);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(edUser, edPassword);
    setTabOrder(edPassword, btnCancel);
    setTabOrder(btnCancel, btnOK);
}

QString TfrmUserPass::UserName() const
{
    return edUser->text();
}

void TfrmUserPass::SetUserName(const QString &userName)
{
    edUser->setText(userName);
}

QString TfrmUserPass::Password() const
{
    return edPassword->text();
}

void TfrmUserPass::SetPassword(const QString &password)
{
    edPassword->setText(password);
}

void TfrmUserPass::keyPressEvent(QKeyEvent *event)
{
    // Neither Enter nor Escape closes the dialog; only its buttons and the close box do.
    if (!SwallowClosingKeys(event))
        QDialog::keyPressEvent(event);
}

bool EditUserPass(QWidget *owner, const QString &dataFolder, const QString &computerName)
{
    TfrmUserPass dialog(owner);
    const TUserPass stored = ReadUserPass(dataFolder, computerName); // unreadable file: raises, no dialog
    dialog.SetUserName(stored.UserName);
    dialog.SetPassword(stored.Password);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    try {
        WriteUserPass(dataFolder, computerName, TUserPass{dialog.UserName(), dialog.Password()});
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::WriteCredentials);
        return false;
    }
    return true;
}

TacOverwriteUserPass::TacOverwriteUserPass(QWidget *window, TSelectedComputer selectedComputer, QString dataFolder)
    : QAction(u"Overwrite user name and password"_s, window)
    , m_window(window)
    , m_selectedComputer(std::move(selectedComputer))
    , m_dataFolder(std::move(dataFolder))
{
    setObjectName(u"acOverwriteUserPass"_s);
    connect(this, &QAction::triggered, this, &TacOverwriteUserPass::Execute);
    Update();
}

bool TacOverwriteUserPass::Enabled(const std::optional<QString> &selectedComputer)
{
    return selectedComputer.has_value();
}

void TacOverwriteUserPass::Update()
{
    setEnabled(Enabled(m_selectedComputer()));
}

void TacOverwriteUserPass::Execute()
{
    const std::optional<QString> computer = m_selectedComputer();
    if (!Enabled(computer))
        return;
    try {
        EditUserPass(m_window, m_dataFolder, *computer);
    } catch (const std::exception &e) {
        ShowErrorBox(m_window, e);
    }
}

} // namespace valmora

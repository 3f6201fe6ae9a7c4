#include "IPRangesForm.h"

#include "FormHelpers.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// TEMPORARY, to be replaced by IsValidIP and TRange of discovery/ComputersIP.h
// as soon as that unit is on the main branch.
bool localIsValidIP(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        part.toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

std::uint32_t localAddressValue(const QString &text)
{
    std::uint32_t value = 0;
    for (const QString &part : text.split(u'.'))
        value = (value << 8) | (static_cast<std::uint32_t>(part.toInt()) & 0xFFu);
    return value;
}

bool allowedChar(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'.';
}

} // namespace

QValidator::State TIPCharFilter::validate(QString &input, int &pos) const
{
    QString kept;
    kept.reserve(input.size());
    int keptPos = pos;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (allowedChar(input.at(i)))
            kept += input.at(i);
        else if (i < pos)
            --keptPos;
    }
    input = kept;
    pos = keptPos;
    return Acceptable;
}

TfrmIPRange::TfrmIPRange(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmIPRange"_s);
    setWindowTitle(u"IP range"_s);
    setFont(FormFont());
    resize(308, 90);

    edFirstIP = AddLabeledEdit(this, u"edFirstIP"_s, u"Start IP"_s, QRect(8, 24, 137, 21));
    edLastIP = AddLabeledEdit(this, u"edLastIP"_s, u"End IP"_s, QRect(160, 24, 137, 21));
    btnOK = AddButton(this, u"btnOK"_s, u"OK"_s, QRect(225, 57, 75, 25));
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s, QRect(144, 57, 75, 25));

    for (QLineEdit *edit : {edFirstIP, edLastIP}) {
        edit->setValidator(new TIPCharFilter(edit));
        connect(edit, &QLineEdit::textChanged, this, &TfrmIPRange::acOKUpdate);
    }

    acOK = new QAction(u"OK"_s, this);
    acOK->setObjectName(u"acOK"_s);
    LinkButtonToAction(btnOK, acOK);
    connect(acOK, &QAction::triggered, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edFirstIP, edLastIP);
    setTabOrder(edLastIP, btnOK);
    setTabOrder(btnOK, btnCancel);

    acOKUpdate();
}

std::optional<QString> TfrmIPRange::Execute(QWidget *owner, const QString &range)
{
    TfrmIPRange dialog(owner);
    if (!range.isEmpty())
        dialog.SetRangeText(range);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.RangeText();
}

QString TfrmIPRange::RangeText() const
{
    return edFirstIP->text() + u'-' + edLastIP->text();
}

void TfrmIPRange::SetRangeText(const QString &range)
{
    const qsizetype dash = range.indexOf(u'-');
    edFirstIP->setText(dash < 0 ? QString() : range.left(dash));
    edLastIP->setText(range.mid(dash + 1));
}

void TfrmIPRange::acOKUpdate()
{
    const QString first = edFirstIP->text();
    const QString last = edLastIP->text();
    acOK->setEnabled(localIsValidIP(first) && localIsValidIP(last)
                     && localAddressValue(last) >= localAddressValue(first));
}

void TfrmIPRange::keyPressEvent(QKeyEvent *event)
{
    // Neither Enter nor Escape closes the dialog; only its buttons and the close box do.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace valmora

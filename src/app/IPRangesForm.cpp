#include "IPRangesForm.h"

#include "FormHelpers.h"

#include "discovery/ComputersIP.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

bool allowedChar(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'.';
}

} // namespace

TIPCharFilter::TIPCharFilter(QLineEdit *edit)
    : QValidator(edit)
    , m_accepted(edit->text())
{
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_accepted = text; });
}

QValidator::State TIPCharFilter::validate(QString &input, int &pos) const
{
    // What the change put in lies between the part it kept at the front and
    // the part it kept at the end; only that is filtered.
    const qsizetype common = std::min(m_accepted.size(), input.size());
    qsizetype head = 0;
    while (head < common && m_accepted.at(head) == input.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < common - head && m_accepted.at(m_accepted.size() - 1 - tail) == input.at(input.size() - 1 - tail))
        ++tail;

    QString kept = input.left(head);
    kept.reserve(input.size());
    int keptPos = pos;
    for (qsizetype i = head; i < input.size() - tail; ++i) {
        if (allowedChar(input.at(i)))
            kept += input.at(i);
        else if (i < pos)
            --keptPos;
    }
    kept += input.right(tail);
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

    edFirstIP = AddLabeledEdit(this, u"edFirstIP"_s, u"Start IP"_s);
    edLastIP = AddLabeledEdit(this, u"edLastIP"_s, u"End IP"_s);
    btnOK = AddButton(this, u"btnOK"_s, u"OK"_s);
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s);
    // The two addresses side by side, their labels above them; the buttons at the right below.
    QGridLayout *layout = LabeledEditsInRow(this, {edFirstIP, edLastIP}, {8, 6, 8, 8}, 15);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnOK);
    layout->setRowMinimumHeight(2, 10);
    layout->addLayout(buttons, 3, 0, 1, 2);
    resize(308, 90);

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
    setUnfiltered(edFirstIP, dash < 0 ? QString() : range.left(dash));
    setUnfiltered(edLastIP, range.mid(dash + 1));
}

void TfrmIPRange::setUnfiltered(QLineEdit *edit, const QString &text)
{
    // A stored range shows as it is stored; a character the filter would drop
    // keeps OK disabled instead of quietly turning into another address.
    const QValidator *filter = edit->validator();
    edit->setValidator(nullptr);
    edit->setText(text);
    edit->setValidator(filter);
}

void TfrmIPRange::acOKUpdate()
{
    // Both addresses valid makes the range text one the scan can parse; a
    // range that ends below its start would be rejected by the scan.
    acOK->setEnabled(IsValidIP(edFirstIP->text()) && IsValidIP(edLastIP->text()) && !TRange(RangeText()).IsReversed());
}

void TfrmIPRange::keyPressEvent(QKeyEvent *event)
{
    // Neither Enter nor Escape closes the dialog; only its buttons and the close box do.
    if (!SwallowClosingKeys(event))
        QDialog::keyPressEvent(event);
}

} // namespace valmora

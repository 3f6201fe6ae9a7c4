#include "FormHelpers.h"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// A label of the dialog font is 13 pixels high and sits 3 pixels above its edit.

} // namespace

QFont FormFont()
{
    // Tahoma 8 where it is installed; elsewhere the desktop's own font.
    QFont font = QApplication::font();
    if (QFontDatabase::families().contains(u"Tahoma"_s, Qt::CaseInsensitive)) {
        font.setFamily(u"Tahoma"_s);
        font.setPointSize(8);
    }
    return font;
}

QLineEdit *AddLabeledEdit(QWidget *parent, const QString &name, const QString &label)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    auto *caption = new QLabel(label, parent);
    caption->setObjectName(name + u"Label"_s);
    caption->setBuddy(edit);
    return edit;
}

QLabel *EditLabel(QLineEdit *edit)
{
    return edit->parentWidget()->findChild<QLabel *>(edit->objectName() + u"Label"_s, Qt::FindDirectChildrenOnly);
}

QGridLayout *LabeledEditsInRow(QWidget *parent, std::initializer_list<QLineEdit *> edits, const QMargins &margins,
                               int spacing)
{
    auto *grid = new QGridLayout(parent);
    grid->setContentsMargins(margins);
    grid->setHorizontalSpacing(spacing);
    grid->setVerticalSpacing(2);
    int column = 0;
    for (QLineEdit *edit : edits) {
        grid->addWidget(EditLabel(edit), 0, column);
        grid->addWidget(edit, 1, column);
        ++column;
    }
    return grid;
}

void ShowAsStars(QLineEdit *edit)
{
    edit->setEchoMode(QLineEdit::Password);
    // The style's own mask character is a bullet on most desktops.
    edit->setStyleSheet(u"QLineEdit { lineedit-password-character: 42; }"_s);
}

QPushButton *AddButton(QWidget *parent, const QString &name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedSize(75, 25);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void LinkButtonToAction(QPushButton *button, QAction *action)
{
    const auto follow = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QPushButton::clicked, action, [action] {
        if (action->isEnabled())
            action->trigger();
    });
}

TRadioGroup::TRadioGroup(QWidget *parent, const QString &name, const QString &caption, const QStringList &items,
                         int columns)
    : QGroupBox(caption, parent)
{
    setObjectName(name);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setVerticalSpacing(0);
    // Items fill the columns one after another, top to bottom, as many rows each as needed.
    const int rows = std::max<int>(1, static_cast<int>((items.size() + columns - 1) / columns));
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        button->setObjectName(name + u"Item"_s + QString::number(i));
        m_buttons.addButton(button, i);
        m_items.append(button);
        layout->addWidget(button, i % rows, i / rows);
    }
}

int TRadioGroup::ItemIndex() const
{
    return m_buttons.checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (m_items.isEmpty())
        return;
    if (index < 0) {
        // An exclusive group cannot uncheck its last button directly.
        m_buttons.setExclusive(false);
        for (QRadioButton *item : std::as_const(m_items))
            item->setChecked(false);
        m_buttons.setExclusive(true);
        return;
    }
    m_items.at(std::min<int>(index, static_cast<int>(m_items.size()) - 1))->setChecked(true);
}

int TRadioGroup::Count() const
{
    return static_cast<int>(m_items.size());
}

QRadioButton *TRadioGroup::Item(int index) const
{
    return m_items.value(index);
}

bool SwallowClosingKeys(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return true;
    default:
        return false;
    }
}

} // namespace valmora

#pragma once

// Small pieces the program's windows are built from: the dialog font, edits
// with a label above them, radio groups in columns, buttons that follow an
// action.

#include <QButtonGroup>
#include <QFont>
#include <QMargins>
#include <QGroupBox>
#include <QString>
#include <QStringList>

#include <initializer_list>

class QAction;
class QGridLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace valmora {

// Tahoma 8 pt, the font of every window of the program (the desktop's font
// where Tahoma is missing).
QFont FormFont();

// An edit and the label that names it, both children of parent, for the
// caller's layout to place the label above the edit. The label's object name
// is the edit's followed by "Label".
QLineEdit *AddLabeledEdit(QWidget *parent, const QString &name, const QString &label);

// The label that AddLabeledEdit put above the edit.
QLabel *EditLabel(QLineEdit *edit);

// Labelled edits side by side in a grid of their own, each label above its
// edit, with the margins given; returns the grid.
QGridLayout *LabeledEditsInRow(QWidget *parent, std::initializer_list<QLineEdit *> edits, const QMargins &margins,
                               int spacing);

// The edit shows every character of its text as "*".
void ShowAsStars(QLineEdit *edit);

// A push button of the dialogs' size (75 x 25) that Enter does not press unless asked.
QPushButton *AddButton(QWidget *parent, const QString &name, const QString &text);

// Takes Enter and Escape, so that only a dialog's buttons and its close box
// close it; true when the key was one of them.
bool SwallowClosingKeys(QKeyEvent *event);

// The button shows the action's text and enabled state from now on, and
// pressing it triggers the action.
void LinkButtonToAction(QPushButton *button, QAction *action);

// A framed group of radio buttons laid out in columns, one of which is chosen.
// The items are numbered from 0 in the order given; ItemIndex is -1 while none
// is chosen.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(QWidget *parent, const QString &name, const QString &caption, const QStringList &items,
                int columns);

    int ItemIndex() const;
    // An index beyond the items chooses the last one; a negative one chooses none.
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton *Item(int index) const;

private:
    QButtonGroup m_buttons;
    QList<QRadioButton *> m_items;
};

} // namespace valmora

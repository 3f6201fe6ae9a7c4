#pragma once

#include <QDialog>
#include <QString>
#include <QValidator>

#include <optional>

class QAction;
class QLineEdit;
class QPushButton;

namespace valmora {

// Lets only digits and "." into an address field: every other character typed
// or pasted is dropped. Text that was already there stays as it is, so that a
// range put into the field by the program shows unchanged.
class TIPCharFilter final : public QValidator
{
    Q_OBJECT
public:
    // Follows the edit's text; the filter is the edit's child.
    explicit TIPCharFilter(QLineEdit *edit);
    State validate(QString &input, int &pos) const override;

private:
    QString m_accepted; // the edit's text before the change being validated
};

// Edits one IPv4 range, "first-last".
class TfrmIPRange final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmIPRange(QWidget *owner = nullptr);

    // Shows the dialog modally with the given range (empty fields for an empty
    // text); the edited range when OK was pressed.
    static std::optional<QString> Execute(QWidget *owner, const QString &range = QString());

    // The two fields joined by "-".
    QString RangeText() const;
    // The text before the first "-" goes to the first field, the rest to the
    // last; a text without "-" goes to the last field alone.
    void SetRangeText(const QString &range);

    // OK is enabled exactly when both fields hold an address and the last one
    // does not lie below the first.
    void acOKUpdate();

    QLineEdit *edFirstIP = nullptr;
    QLineEdit *edLastIP = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
    QAction *acOK = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    static void setUnfiltered(QLineEdit *edit, const QString &text);
};

} // namespace valmora

#pragma once

#include <QAction>
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLineEdit;
class QPushButton;

namespace valmora {

// Asks for the user name and password of one computer. Neither Enter nor
// Escape closes it; the close box counts as Cancel.
class TfrmUserPass final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmUserPass(QWidget *owner = nullptr);

    QString UserName() const;
    void SetUserName(const QString &userName);
    QString Password() const;
    void SetPassword(const QString &password);

    QLineEdit *edUser = nullptr;
    QLineEdit *edPassword = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnOK = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Edits the stored credentials of one computer in "userpass.valmora" of the
// data folder: shows them in the dialog and, on OK, writes what the dialog
// holds. True when the entry was saved. A file that cannot be read raises
// before the dialog shows; a failure to save is logged (1001) and gives false.
bool EditUserPass(QWidget *owner, const QString &dataFolder, const QString &computerName);

// "Overwrite user name and password", the command of the computer list's
// context menu. It asks the window which computer is selected: the caption of
// the selected item, or nothing.
class TacOverwriteUserPass final : public QAction
{
    Q_OBJECT
public:
    using TSelectedComputer = std::function<std::optional<QString>()>;

    TacOverwriteUserPass(QWidget *window, TSelectedComputer selectedComputer, QString dataFolder);

    // Enabled exactly while a computer is selected; call it whenever the
    // selection changes.
    void Update();
    static bool Enabled(const std::optional<QString> &selectedComputer);

    // What triggering does: edits the selected computer's entry. A file that
    // cannot be read is reported in an error box.
    void Execute();

    const QString &DataFolder() const { return m_dataFolder; }

private:
    QWidget *m_window;
    TSelectedComputer m_selectedComputer;
    QString m_dataFolder;
};

} // namespace valmora

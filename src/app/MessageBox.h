#pragma once

// Every message box of the program goes through here, so that tests can see
// what would have been shown and answer it without a box ever blocking them.

#include <QMessageBox>
#include <QString>

#include <exception>
#include <functional>
#include <vector>

namespace valmora {

struct TMessageRequest
{
    QString Caption;
    QString Text; // as the program words it, lines ended by "\r\n"
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
};

// Decides a message box in place of the real one and returns the button pressed.
using TMessageHandler = std::function<QMessageBox::StandardButton(QWidget *parent, const TMessageRequest &request)>;

// Shows a modal message box (or hands it to the installed handler) and returns
// the button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &caption, const QString &text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                           QMessageBox::Icon icon = QMessageBox::NoIcon);

// The report of an error that ends a user command: the error's text, the
// application's name as caption, OK only.
void ShowErrorBox(QWidget *parent, const std::exception &e);

// The report of an error that escapes a command of the main window or a
// message it handles: the error's text under the program's caption.
void ShowCommandError(QWidget *parent, const std::exception &e);

// Runs a command of the main window; what escapes it is shown by ShowCommandError.
template <typename F>
void Guarded(QWidget *parent, F &&command)
{
    try {
        command();
    } catch (const std::exception &e) {
        ShowCommandError(parent, e);
    }
}

// Installs a handler (an empty one restores the real boxes); returns the one before.
TMessageHandler SetMessageHandler(TMessageHandler handler);

// For tests: while it lives, message boxes are recorded instead of shown and
// answered with the queued answers, then with the first button of each box.
class TMessageRecorder
{
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder &) = delete;
    TMessageRecorder &operator=(const TMessageRecorder &) = delete;

    void QueueAnswer(QMessageBox::StandardButton answer) { m_answers.push_back(answer); }
    const std::vector<TMessageRequest> &Shown() const { return m_shown; }
    void Clear() { m_shown.clear(); }

private:
    QMessageBox::StandardButton answer(const TMessageRequest &request);

    TMessageHandler m_previous;
    std::vector<TMessageRequest> m_shown;
    std::vector<QMessageBox::StandardButton> m_answers;
};

} // namespace valmora

#include "MessageBox.h"

#include "foundation/DataPaths.h"
#include "foundation/Exception.h"

#include <QGuiApplication>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

TMessageHandler &handler()
{
    static TMessageHandler current;
    return current;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &caption, const QString &text,
                                           QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    const TMessageRequest request{caption, text, icon, buttons};
    if (handler())
        return handler()(parent, request);
    // The texts carry Windows line ends; a lone "\r" would show as a glyph.
    QMessageBox box(icon, caption, QString(text).replace(u"\r\n"_s, u"\n"_s), buttons, parent);
    const int pressed = box.exec();
    return static_cast<QMessageBox::StandardButton>(pressed);
}

void ShowCommandError(QWidget *parent, const std::exception &e)
{
    ShowMessageBox(parent, QString::fromUtf16(kProgramCaption), ExceptionMessage(e));
}

void ShowErrorBox(QWidget *parent, const std::exception &e)
{
    ShowMessageBox(parent, QGuiApplication::applicationDisplayName(), ExceptionMessage(e), QMessageBox::Ok,
                   QMessageBox::Critical);
}

TMessageHandler SetMessageHandler(TMessageHandler next)
{
    TMessageHandler previous = std::move(handler());
    handler() = std::move(next);
    return previous;
}

TMessageRecorder::TMessageRecorder()
    : m_previous(SetMessageHandler([this](QWidget *, const TMessageRequest &request) { return answer(request); }))
{
}

TMessageRecorder::~TMessageRecorder()
{
    SetMessageHandler(std::move(m_previous));
}

QMessageBox::StandardButton TMessageRecorder::answer(const TMessageRequest &request)
{
    m_shown.push_back(request);
    if (!m_answers.empty()) {
        const QMessageBox::StandardButton next = m_answers.front();
        m_answers.erase(m_answers.begin());
        return next;
    }
    // The lowest flag is the first button of the box (Ok before Cancel, Yes before No).
    for (unsigned bit = 1; bit != 0; bit <<= 1) {
        if (request.Buttons.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    }
    return QMessageBox::NoButton;
}

} // namespace valmora

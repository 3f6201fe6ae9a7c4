#include "WindowPlacement.h"

#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QRect FitToScreen(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(std::clamp(fitted.left(), available.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), available.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

void RestoreWindowPlacement(QWidget *window, QSize defaultSize)
{
    try {
        const QString &key = TOptions::KeyPath;
        const int left = TRegistryHelper::ReadInteger(key, u"Left"_s, TRootKey::CurrentUser, 100);
        const int top = TRegistryHelper::ReadInteger(key, u"Top"_s, TRootKey::CurrentUser, 100);
        const int width = TRegistryHelper::ReadInteger(key, u"Width"_s, TRootKey::CurrentUser, defaultSize.width());
        const int height = TRegistryHelper::ReadInteger(key, u"Height"_s, TRootKey::CurrentUser, defaultSize.height());
        window->move(left, top);
        window->resize(width, height);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::RestoreWindowPlacement);
    }
    FitWindowToScreen(window, defaultSize);
}

void StoreWindowPlacement(const QWidget *window)
{
    try {
        // The position of the frame and the size of the client area, as RestoreWindowPlacement applies them.
        const QRect frame(window->pos(), window->size());
        const QString &key = TOptions::KeyPath;
        TRegistryHelper::WriteInteger(key, u"Left"_s, TRootKey::CurrentUser, frame.x());
        TRegistryHelper::WriteInteger(key, u"Top"_s, TRootKey::CurrentUser, frame.y());
        TRegistryHelper::WriteInteger(key, u"Width"_s, TRootKey::CurrentUser, frame.width());
        TRegistryHelper::WriteInteger(key, u"Height"_s, TRootKey::CurrentUser, frame.height());
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::SaveWindowPlacement);
    }
}

void FitWindowToScreen(QWidget *window, QSize minimum)
{
    const QRect frame = window->frameGeometry();
    QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect client = window->geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    const QSize room = available.size().shrunkBy(margins);
    window->setMinimumSize(minimum.boundedTo(room));
    const QRect fitted = FitToScreen(frame, available);
    if (fitted == frame)
        return;
    window->move(fitted.topLeft());
    window->resize(fitted.size().shrunkBy(margins));
}

} // namespace valmora

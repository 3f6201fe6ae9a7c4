#pragma once

// Where the main window lies and how large it is, kept in the user's settings
// ("Left", "Top", "Width", "Height") and always within its screen.

#include <QRect>

class QWidget;

namespace valmora {

// A window placement (the frame's rectangle) moved and shrunk so that it lies
// within the available area of its screen; one that fits stays as it is.
QRect FitToScreen(const QRect &frame, const QRect &available);

// The stored placement (100, 100 and defaultSize when none), fitted to the screen;
// failures are logged.
void RestoreWindowPlacement(QWidget *window, QSize defaultSize);
// The position of the frame and the size of the client area; failures are logged.
void StoreWindowPlacement(const QWidget *window);
// Keeps the window within the screen it is on, and its minimum size (at most
// minimum) within that screen's free area.
void FitWindowToScreen(QWidget *window, QSize minimum);

} // namespace valmora

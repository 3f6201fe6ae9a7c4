#pragma once

// Drives modal dialogs from inside their own event loop: the test says what to
// do with the next dialog of a type before the code under test opens it.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace valmora::test {

// Runs act on the next modal dialog of type T once it is up, and sets *ran.
// When a check inside act fails, the dialog is rejected. If no such dialog
// comes within about five seconds it gives up and rejects whatever modal
// dialog is up, so a test fails instead of hanging.
template <class T>
void WhenModal(std::function<void(T *)> act, bool *ran = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, act = std::move(act), ran] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget()); dialog && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            if (ran)
                *ran = true;
            const QPointer<T> alive(dialog);
            act(dialog);
            // A failed check inside act leaves the dialog open: close it so the test ends.
            if (QTest::currentTestFailed() && alive && alive->isVisible())
                alive->reject();
            return;
        }
        if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
            if (auto *stuck = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                stuck->reject();
        }
    });
    timer->start();
}

// While it lives, counts the dialogs of type T that are shown and closes each
// one at once: for checking that code does not open such a dialog.
class TShownCounter final : public QObject
{
public:
    explicit TShownCounter(const QMetaObject &type)
        : m_type(type)
    {
        qApp->installEventFilter(this);
    }
    ~TShownCounter() override { qApp->removeEventFilter(this); }
    int Count() const { return m_count; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->metaObject()->inherits(&m_type)) {
            ++m_count;
            QMetaObject::invokeMethod(static_cast<QDialog *>(watched), &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }

private:
    const QMetaObject &m_type;
    int m_count = 0;
};

template <class T>
std::unique_ptr<TShownCounter> CountShown()
{
    return std::make_unique<TShownCounter>(T::staticMetaObject);
}

} // namespace valmora::test

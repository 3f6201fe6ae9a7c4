#pragma once

// One running instance per program file and user: the first start listens on a
// local socket named after the program's path; a later start asks it to come
// forward and ends.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace valmora {

class TCheckPrevious final : public QObject
{
    Q_OBJECT
public:
    // name: the instance name; by default derived from the program's own path.
    explicit TCheckPrevious(QString name = DefaultName());
    ~TCheckPrevious() override;

    // True when the program must end because an instance runs already; that
    // instance has then been asked to come forward. False when this process is
    // the running instance from now on.
    bool CheckPrevious();

    // Runs in the running instance whenever a later start asks it to come forward.
    std::function<void()> OnActivate;

    // "valmora-" and a hash of the program's path and the user.
    static QString DefaultName();
    const QString &Name() const { return m_name; }

private:
    bool askRunningInstance() const;

    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace valmora

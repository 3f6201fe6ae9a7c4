#pragma once

// The state file "vm/valmora.vm" of the data folder: the last state of every
// computer (section = computer name, key "State") and, in the section
// "$DISKMODELS$", one flag per drive model that says the model counts its
// power-on time in minutes. Every call opens the file, does its one read or
// write and releases it; nothing is cached. Failures are logged, never raised.

#include "foundation/DateTime.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace valmora {

// dataFolder + "vm/valmora.vm"; the "vm" folder is created when missing.
QString StateFileName(const QString &dataFolder);

// "State" of the computer's section; 5 when missing, not a state code 1..5, or
// unreadable (logged with place 1002).
int ReadComputerState(const QString &dataFolder, const QString &computerName);
// Failures are logged with place 1006.
void WriteComputerState(const QString &dataFolder, const QString &computerName, int state);

// The same for many computers with one open–read–close (the list rebuild).
QList<int> ReadComputerStates(const QString &dataFolder, const QStringList &computerNames);
// The same for many computers with one open–write–close (the merge after a
// cycle); later entries for the same computer win.
void WriteComputerStates(const QString &dataFolder, const QList<std::pair<QString, int>> &states);

// Why the last reading of a computer was not Good, kept in its section beside
// "State" ("Reason" and "ReasonTime"), so the window can tell it after a restart.
struct TComputerReason
{
    QString Text;     // empty: nothing to tell
    TDateTime Time = 0; // when the computer first failed that way
};
// Empty when missing or unreadable (logged with place 1002).
TComputerReason ReadComputerReason(const QString &dataFolder, const QString &computerName);
// An empty text removes both keys; failures are logged with place 1006.
void WriteComputerReason(const QString &dataFolder, const QString &computerName, const TComputerReason &reason);

// whenUnset when missing, false when unreadable (logged with place 1003).
bool ReadDiskModelFlag(const QString &dataFolder, const QString &model, bool whenUnset = false);
// Writes "1" or "0"; failures are logged with place 1007.
void WriteDiskModelFlag(const QString &dataFolder, const QString &model, bool value);

// Runs writes of the state file one after another on a thread of its own, so
// that the caller does not wait for the disk. The caller calls Drain before it
// touches the file itself, so the file never sees two hands at once.
class TStateFileWriter
{
public:
    TStateFileWriter() = default;
    // Finishes the writes still queued.
    ~TStateFileWriter();
    TStateFileWriter(const TStateFileWriter &) = delete;
    TStateFileWriter &operator=(const TStateFileWriter &) = delete;

    void Post(std::function<void()> write);
    // Returns when every posted write is done.
    void Drain();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};

// Section and key names as they stand in the file: "%", "[", "]", "=", ";" and
// control characters become "%" and two hex digits, and so do blanks at either
// end, so that any name reads back as written while ordinary names stay as they are.
QString EscapeProfileName(const QString &name);
QString UnescapeProfileName(const QString &name);

} // namespace valmora

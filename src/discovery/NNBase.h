#pragma once

// The base of the computer sources: a set of computer names that a source can
// enumerate again on request, reporting names that join or leave it.

#include "foundation/NameList.h"

#include <QString>

#include <functional>

namespace valmora {

class TNNBase;

// Cancel is false on entry; a handler that sets it asks the source to stop its
// current enumeration pass.
using TComputerEvent = std::function<void(TNNBase &sender, const QString &computerName, bool &cancel)>;
using TNotifyEvent = std::function<void(TNNBase &sender)>;

// A source is used by one thread at a time; its events run in the thread that
// called Refresh.
class TNNBase
{
public:
    TNNBase() = default;
    virtual ~TNNBase() = default;
    TNNBase(const TNNBase &) = delete;
    TNNBase &operator=(const TNNBase &) = delete;

    // True when the enumeration ran.
    virtual bool Refresh() = 0;

    int ComputerCount() const { return static_cast<int>(m_computers.count()); }
    // The entry at index without a leading "\\": the form in which every caller
    // uses a name. Raises EListError outside 0 .. ComputerCount() - 1.
    QString ComputerName(int index) const;

    // The names as the source stores them; case-insensitive, sorted after every Refresh.
    TNameList &Computers() { return m_computers; }
    const TNameList &Computers() const { return m_computers; }

    TComputerEvent OnComputerAdded;
    TComputerEvent OnComputerDeleted;

protected:
    // Calls the handler, if any, with Cancel false; gives what it left in Cancel.
    bool raise(const TComputerEvent &event, const QString &computerName);

    TNameList m_computers;
};

} // namespace valmora

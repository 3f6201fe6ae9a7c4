#include "Computers.h"

#include "ComputerNameCheck.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

using platform::TEnumResult;

constexpr std::uint32_t code(TEnumResult r) { return static_cast<std::uint32_t>(r); }

// Bounds a misbehaving enumeration that never says it is done.
constexpr int MaxFetches = 100000;

} // namespace

TNetworkNeigborhoodComputes::TNetworkNeigborhoodComputes()
    : TNetworkNeigborhoodComputes(platform::CreateNetworkEnumerator())
{
}

TNetworkNeigborhoodComputes::TNetworkNeigborhoodComputes(std::unique_ptr<platform::TNetworkEnumerator> enumerator)
    : m_enumerator(std::move(enumerator))
{
}

bool TNetworkNeigborhoodComputes::Refresh()
{
    m_found.clear();
    m_found.setSorted(false);

    m_openError.clear();
    std::unique_ptr<platform::TNetworkEnumeration> enumeration = m_enumerator->Open(m_openError);
    if (!enumeration) {
        if (m_openError.isEmpty())
            m_openError = u"The network enumeration cannot be started"_s;
        return false;
    }

    for (int fetch = 0; fetch < MaxFetches; ++fetch) {
        const platform::TEnumBatch batch = enumeration->Next();
        if (batch.result == code(TEnumResult::InvalidHandle)) {
            if (OnErrorInvalidHandle)
                OnErrorInvalidHandle(*this);
            break;
        }
        if (batch.result == code(TEnumResult::ExtendedError)) {
            if (OnErrorExtendedError)
                OnErrorExtendedError(*this, 0, QString());
            break;
        }
        if (batch.result == code(TEnumResult::NoNetwork)) {
            if (OnErrorNoNetwork)
                OnErrorNoNetwork(*this);
            break;
        }
        for (const QString &name : batch.remoteNames)
            if (!name.isEmpty() && AcceptComputerName(name, u"the network neighbourhood"_s))
                m_found.add(name);
        if (batch.result != code(TEnumResult::Success))
            break;
    }
    const bool closed = enumeration->Close();

    m_found.setSorted(true);
    m_computers.setSorted(true);

    bool cancel = false;
    for (qsizetype i = 0; i < m_computers.count() && !cancel;) {
        if (!m_found.contains(m_computers.at(i))) {
            const QString name = m_computers.at(i);
            cancel = raise(OnComputerDeleted, name);
            m_computers.removeAt(i);
        } else {
            ++i;
        }
    }
    for (qsizetype i = 0; i < m_found.count() && !cancel; ++i) {
        const QString &name = m_found.at(i);
        if (!m_computers.contains(name)) {
            cancel = raise(OnComputerAdded, name);
            m_computers.add(name);
        }
    }
    return closed;
}

void TNetworkNeigborhoodComputes::AddKnownComputers(const QString &dataFolder)
{
    if (dataFolder.isEmpty())
        return;
    const QDir dir(dataFolder);
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &entry : entries) {
        if (entry.count(u'.') != 1 || !AsciiLower(entry).endsWith(u".wci"_s))
            continue;
        const QString name = NetworkComputerName(entry.left(entry.indexOf(u'.')));
        if (!AcceptComputerName(name, u"the data folder"_s))
            continue;
        if (!m_computers.contains(name))
            m_computers.add(name);
    }
}

} // namespace valmora

#include "NameList.h"

#include "Exception.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

void TNameList::setSorted(bool sorted)
{
    if (sorted && !m_sorted)
        std::stable_sort(m_items.begin(), m_items.end(),
                         [](const QString &a, const QString &b) { return compare(a, b) < 0; });
    m_sorted = sorted;
}

void TNameList::checkIndex(qsizetype index) const
{
    if (index < 0 || index >= m_items.size())
        throw EListError(u"List index out of bounds (%1)"_s.arg(index));
}

const QString &TNameList::at(qsizetype index) const
{
    checkIndex(index);
    return m_items.at(index);
}

qsizetype TNameList::lowerBound(const QString &name) const
{
    const auto it = std::lower_bound(m_items.cbegin(), m_items.cend(), name,
                                     [](const QString &a, const QString &b) { return compare(a, b) < 0; });
    return it - m_items.cbegin();
}

qsizetype TNameList::add(const QString &name)
{
    if (!m_sorted) {
        m_items.append(name);
        return m_items.size() - 1;
    }
    const qsizetype pos = lowerBound(name);
    if (pos < m_items.size() && compare(m_items.at(pos), name) == 0)
        return pos;
    m_items.insert(pos, name);
    return pos;
}

qsizetype TNameList::indexOf(const QString &name) const
{
    if (m_sorted) {
        const qsizetype pos = lowerBound(name);
        return pos < m_items.size() && compare(m_items.at(pos), name) == 0 ? pos : -1;
    }
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (compare(m_items.at(i), name) == 0)
            return i;
    return -1;
}

void TNameList::removeAt(qsizetype index)
{
    checkIndex(index);
    m_items.removeAt(index);
}

bool TNameList::remove(const QString &name)
{
    const qsizetype index = indexOf(name);
    if (index < 0)
        return false;
    m_items.removeAt(index);
    return true;
}

} // namespace valmora

#pragma once

#include <QString>
#include <QStringList>

namespace valmora {

// A list of names whose comparisons ignore letter case. While sorted it keeps
// ascending case-insensitive order and ignores the addition of a name it holds.
class TNameList
{
public:
    TNameList() = default;
    explicit TNameList(bool sorted) { setSorted(sorted); }

    bool sorted() const { return m_sorted; }
    // Switching sorting on sorts the names once; names equal but for case stay.
    void setSorted(bool sorted);

    qsizetype count() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    // Raises EListError "List index out of bounds (%d)" outside 0 .. count-1.
    const QString &at(qsizetype index) const;
    const QString &operator[](qsizetype index) const { return at(index); }

    // Returns the index of the name; when sorted and already held, the index of
    // the name held and nothing is added.
    qsizetype add(const QString &name);
    qsizetype indexOf(const QString &name) const;
    bool contains(const QString &name) const { return indexOf(name) >= 0; }
    void removeAt(qsizetype index);
    bool remove(const QString &name);
    void clear() { m_items.clear(); }

    const QStringList &names() const { return m_items; }
    QStringList::const_iterator begin() const { return m_items.cbegin(); }
    QStringList::const_iterator end() const { return m_items.cend(); }

    static int compare(const QString &a, const QString &b)
    {
        return QString::compare(a, b, Qt::CaseInsensitive);
    }

private:
    // Binary search in sorted order: the first position whose name is not less than name.
    qsizetype lowerBound(const QString &name) const;
    void checkIndex(qsizetype index) const;

    QStringList m_items;
    bool m_sorted = false;
};

} // namespace valmora

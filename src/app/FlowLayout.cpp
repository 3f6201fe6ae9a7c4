#include "FlowLayout.h"

#include <QWidget>

#include <algorithm>

namespace valmora {

TFlowLayout::TFlowLayout(QWidget *parent)
    : QLayout(parent)
{
    setSpacing(0);
}

TFlowLayout::~TFlowLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void TFlowLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
}

int TFlowLayout::count() const
{
    return static_cast<int>(m_items.size());
}

QLayoutItem *TFlowLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *TFlowLayout::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

Qt::Orientations TFlowLayout::expandingDirections() const
{
    return {};
}

bool TFlowLayout::hasHeightForWidth() const
{
    return true;
}

int TFlowLayout::heightForWidth(int width) const
{
    return place(QRect(0, 0, width, 0), false);
}

QSize TFlowLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem *item : m_items)
        size = size.expandedTo(item->minimumSize());
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize TFlowLayout::sizeHint() const
{
    return minimumSize();
}

void TFlowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    place(rect, true);
}

int TFlowLayout::place(const QRect &rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = spacing();
    int x = area.x();
    int y = area.y();
    int rowHeight = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize size = item->sizeHint();
        // A row holds at least one item, however narrow the area.
        if (x > area.x() && x + size.width() > area.x() + area.width()) {
            x = area.x();
            y += rowHeight + gap;
            rowHeight = 0;
        }
        if (apply)
            item->setGeometry(QRect(QPoint(x, y), size));
        x += size.width() + gap;
        rowHeight = std::max(rowHeight, size.height());
    }
    const QMargins margins = contentsMargins();
    return y + rowHeight - rect.y() + margins.bottom();
}

} // namespace valmora

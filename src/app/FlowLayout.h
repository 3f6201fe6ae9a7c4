#pragma once

// Items side by side, left to right, starting a new row where the next one
// would pass the right edge; the height follows the width.

#include <QLayout>
#include <QList>

namespace valmora {

class TFlowLayout final : public QLayout
{
public:
    explicit TFlowLayout(QWidget *parent = nullptr);
    ~TFlowLayout() override;
    TFlowLayout(const TFlowLayout &) = delete;
    TFlowLayout &operator=(const TFlowLayout &) = delete;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    // Places the items within rect (only measures when apply is false); returns the height used.
    int place(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
};

} // namespace valmora

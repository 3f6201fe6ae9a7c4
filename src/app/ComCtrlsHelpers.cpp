#include "ComCtrlsHelpers.h"

#include <QHeaderView>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

void LoadListViewColumns(QTreeView *listView, const QString &key, TRootKey root)
{
    const QString name = listView->objectName();
    QHeaderView *header = listView->header();
    const int count = TRegistryHelper::ReadInteger(key, name + u"count"_s, root, 0);
    for (int i = 0; i < count && i < header->count(); ++i) {
        const int width = TRegistryHelper::ReadInteger(key, name + u"Columns"_s + QString::number(i), root, -2);
        // -2 (and any other negative width) sizes the column to its header text.
        header->resizeSection(i, width >= 0 ? width : header->sectionSizeHint(i));
    }
}

void SaveListViewColumns(QTreeView *listView, const QString &key, TRootKey root)
{
    const QString name = listView->objectName();
    QHeaderView *header = listView->header();
    for (int i = 0; i < header->count(); ++i)
        TRegistryHelper::WriteInteger(key, name + u"Columns"_s + QString::number(i), root, header->sectionSize(i));
    TRegistryHelper::WriteInteger(key, name + u"count"_s, root, header->count());
}

} // namespace valmora

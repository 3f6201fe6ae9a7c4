#pragma once

// Column widths of the window's list views, kept in the registry store under
// the list view's object name: NAME + "count" and NAME + "Columns" + index.

#include "foundation/RegistryHelper.h"

#include <QString>

class QTreeView;

namespace valmora {

// Restores the widths of the stored columns; a stored column without its width
// is sized to its header text; columns beyond the stored count keep their width.
void LoadListViewColumns(QTreeView *listView, const QString &key, TRootKey root);
// Stores the width of every column and the number of columns.
void SaveListViewColumns(QTreeView *listView, const QString &key, TRootKey root);

} // namespace valmora

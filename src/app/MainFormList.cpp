// The computer list of the window: the rebuild from the source, the merge of a
// refresh cycle's batch, the selection and the commands on the selected computer.

#include "MainForm.h"

#include "foundation/DataPaths.h"
#include "foundation/Settings.h"
#include "MessageBox.h"

#include "discovery/Computers.h"
#include "drivedata/Verdicts.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "refresh/StateFile.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// The readout file a check of the computer writes.
QString informationFileName(const QString &dataFolder, const QString &caption)
{
    return DataPaths::ReadoutFile(dataFolder, caption);
}

} // namespace

// ---------------------------------------------------------------------------
// Computer list

void TMainForm::setCurrentQuietly(const QModelIndex &index)
{
    const bool guard = std::exchange(m_merging, true);
    lvComputers->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_merging = guard;
}

void TMainForm::putQuietly(TComputerRow row)
{
    const bool guard = std::exchange(m_merging, true);
    m_computers->Put(std::move(row));
    m_merging = guard;
}

void TMainForm::resetQuietly(std::vector<TComputerRow> rows)
{
    const bool guard = std::exchange(m_merging, true);
    m_computers->Reset(std::move(rows));
    m_merging = guard;
}

void TMainForm::removeItem(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer)
        return;
    const bool selected = CompareComputerNames(m_selected, computer->Name) == 0;
    const bool shown = CompareComputerNames(m_shown, computer->Name) == 0;
    if (selected)
        unselectItem();
    // The focused computer's drives may be shown without it being selected.
    if (shown)
        clearDriveView();
    const bool guard = std::exchange(m_merging, true);
    m_computers->Remove(caption);
    m_merging = guard;
}

void TMainForm::clearList()
{
    unselectItem();
    clearDriveView();
    resetQuietly({});
}

bool TMainForm::loadInformationFile(TDriveList &list, const QString &caption, bool evaluate)
{
    const QString file = informationFileName(DataFolder(), caption);
    if (!QFile::exists(file))
        return true;
    try {
        list.LoadFromFile(file);
        if (evaluate)
            EvaluateDrives(list);
        else
            ExplainStoredVerdicts(list);
        return true;
    } catch (const std::exception &e) {
        // One damaged file must not hide the other computers: this one stays
        // without drives until its next check writes the file anew.
        XLogSystem().LogException(e, LogPlace::ReadInformationFile);
        return false;
    }
}

QStringList TMainForm::sourceNames(const TNNBase &source)
{
    QStringList captions;
    for (int i = 0; i < source.ComputerCount(); ++i)
        captions.append(source.ComputerName(i));
    return captions;
}

std::vector<TComputerRow> TMainForm::storedRows(const QStringList &captions)
{
    const QList<int> states = m_state.ReadStates(captions);
    std::vector<TComputerRow> rows;
    rows.reserve(static_cast<std::size_t>(captions.size()));
    for (qsizetype i = 0; i < captions.size(); ++i) {
        auto drives = std::make_shared<TDriveList>();
        loadInformationFile(*drives, captions.at(i), true);
        const TComputerReason reason = ReadComputerReason(DataFolder(), captions.at(i));
        rows.push_back({captions.at(i), GroupFromState(states.at(i)), false, std::move(drives), reason.Text, reason.Time});
    }
    return rows;
}

void TMainForm::acRefreshExecute()
{
    // The source is the window's again only when the discovery has let it go.
    if (m_discovery.joinable())
        m_discovery.join();
    m_listSearchKind = SearchKindFromNumber(TOptions::ReadSearchKind());
    TNNBase *source = chooseSource(m_listSearchKind);
    lvComputers->setUpdatesEnabled(false);
    clearList();
    const auto resume = qScopeGuard([this] {
        lvComputers->setUpdatesEnabled(true);
        UpdateActions();
    });
    QStringList names;
    {
        const auto lock = m_sources->Lock();
        if (!source->Refresh())
            return;
        if (source == m_sources->Network())
            m_sources->Network()->AddKnownComputers(DataFolder());
        names = sourceNames(*source);
    }
    resetQuietly(storedRows(names));
    setCurrentQuietly(m_computers->FirstComputer());
}

void TMainForm::showStoredComputers()
{
    m_listSearchKind = SearchKindFromNumber(TOptions::ReadSearchKind());
    QStringList names;
    {
        const auto lock = m_sources->Lock();
        TNetworkNeigborhoodComputes &network = *m_sources->Network();
        network.AddKnownComputers(DataFolder());
        names = sourceNames(network);
    }
    resetQuietly(storedRows(names));
    setCurrentQuietly(m_computers->FirstComputer());
    UpdateActions();
}

void TMainForm::discoveryAnswered(const QStringList &names)
{
    if (!m_discoveryPending || m_destroyed)
        return;
    m_discoveryPending = false;
    // The computers the list does not hold yet join it with their stored
    // state and readout; a cycle's merge may have brought them already.
    QStringList missing;
    for (const QString &name : names)
        if (!m_computers->Find(name).isValid())
            missing.append(name);
    for (TComputerRow &row : storedRows(missing))
        putQuietly(std::move(row));
    if (!lvComputers->currentIndex().isValid())
        setCurrentQuietly(m_computers->FirstComputer());
    UpdateActions();
    emit discoveryMerged();
}

void TMainForm::WMCycleDone(std::shared_ptr<TCycleBatch> batch)
{
    if (!batch || m_destroyed)
        return;
    if (m_alerter)
        m_alerter->HandleCycle(*batch);
    // A computer the source dropped and added again in the same cycle comes
    // back as a new row: the user's choice follows it by name.
    const QString selected = m_selected;
    RemoveDeletedComputers(batch->RemovedComputerNames);
    // Entries a failed merge left behind join this batch unless it checked them anew.
    if (!m_pending.empty()) {
        TComputerComparer comparer;
        for (auto &entry : m_pending) {
            qsizetype index = 0;
            if (!comparer.BinarySearch(batch->CheckedComputers, entry->Name, index))
                batch->CheckedComputers.insert(batch->CheckedComputers.begin() + index, std::move(entry));
        }
        m_pending.clear();
    }
    MergeCheckedComputers(batch->CheckedComputers);
    if (!selected.isEmpty() && m_selected.isEmpty())
        reselect(selected);
    ++m_mergeCount;
    emit cycleMerged();
}

void TMainForm::reselect(const QString &caption)
{
    const QModelIndex index = m_computers->Find(caption);
    if (!index.isValid())
        return;
    lvComputers->setCurrentIndex(index);
    lvComputers->scrollTo(index);
    // Selecting it already ran the selection handler; this covers a view that
    // still held the computer selected while the window had let it go.
    if (m_selected.isEmpty() || CompareComputerNames(m_selected, caption) != 0)
        lvComputersSelectItem();
}

void TMainForm::RemoveDeletedComputers(QStringList &names)
{
    for (const QString &name : std::as_const(names))
        removeItem(BareComputerName(name));
    names.clear();
    UpdateActions();
}

TComputerRow TMainForm::checkedRow(const QString &caption, TAddedComputer &entry, bool cross)
{
    TComputerRow row{caption, GroupFromState(entry.State), cross, nullptr, entry.Reason, entry.ReasonTime};
    std::shared_ptr<TDriveList> drives = CopyDrives(entry.Drives);
    if (drives->ComputerName.isEmpty())
        drives->ComputerName = caption;
    if (drives->Count() == 0)
        loadInformationFile(*drives, caption, false);
    // Unavailable now, and its last readout has a flagged drive: suspected, with the cross.
    for (int i = 0; i < drives->Count(); ++i)
        if (drives->Items(i).IsFlagged() && row.Group == TComputerGroup::Unavailable) {
            row.Group = TComputerGroup::Suspected;
            row.Cross = true;
        }
    row.Drives = std::move(drives);
    return row;
}

void TMainForm::MergeCheckedComputers(TCheckedComputers &checked)
{
    const bool guard = std::exchange(m_merging, true);
    lvComputers->setUpdatesEnabled(false);
    const TComputerRow *current = m_computers->Computer(lvComputers->currentIndex());
    const QString focused = current ? current->Name : QString();
    const QString selected = m_selected;
    bool failed = false;
    // Written together at the end: one pass over the state file for the whole batch.
    QList<std::pair<QString, int>> states;
    try {
        for (auto &entry : checked) {
            const TComputerRow *known = m_computers->Computer(entry->Name);
            const QString caption = known ? known->Name : entry->Name;
            TComputerRow row = checkedRow(caption, *entry, known && known->Cross);
            if (known)
                states.append({caption, StateOfGroup(row.Group)});
            m_computers->Put(std::move(row));
            entry.reset();
        }
        checked.clear();
        // The selected computer's view follows its new drives; without a
        // selection, the current computer's are shown.
        const QString shown = !selected.isEmpty() ? selected : focused;
        if (const TComputerRow *computer = m_computers->Computer(shown)) {
            showComputerDrives(computer->Name);
            states.append({computer->Name, StateOfGroup(computer->Group)});
        }
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, 0);
        failed = true;
    }
    if (!states.isEmpty())
        m_state.WriteStates(std::move(states));
    lvComputers->setUpdatesEnabled(true);
    m_merging = guard;
    if (failed) {
        for (auto &entry : checked)
            if (entry)
                m_pending.push_back(std::move(entry));
        checked.clear();
        acRefreshExecute();
    }
    UpdateActions();
}

void TMainForm::lvComputersSelectItem()
{
    if (m_merging)
        return;
    QString now;
    for (const QModelIndex &index : lvComputers->selectionModel()->selectedRows())
        if (const TComputerRow *computer = m_computers->Computer(index)) {
            now = computer->Name;
            break;
        }
    if (now == m_selected && !now.isEmpty())
        return;
    unselectItem();
    if (!now.isEmpty())
        selectItem(now);
    UpdateActions();
}

void TMainForm::selectItem(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer)
        return;
    m_selected = computer->Name;
    XLogSystem().LogText(u"SelectItem Selected"_s, 0);
    showComputerDrives(m_selected);
    m_state.WriteState(computer->Name, StateOfGroup(computer->Group));
    statusBar()->showMessage(computer->Name);
}

void TMainForm::unselectItem()
{
    if (m_selected.isEmpty())
        return;
    m_selected.clear();
    XLogSystem().LogText(u"SelectItem UnSelected"_s, 0);
    clearDriveView();
    statusBar()->clearMessage();
}

void TMainForm::showComputerDrives(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer) {
        clearDriveView();
        return;
    }
    m_shown = computer->Name;
    QString reason = m_selected.isEmpty() ? QString() : ComputerReasonText(*computer);
    if (!reason.isEmpty())
        // A suspected computer was read; its drives are what is wrong.
        reason = (computer->Group == TComputerGroup::Suspected ? u"Suspected: "_s : u"Last reading failed: "_s) + reason;
    Panel4->ShowDrives(computer->Drives, !m_selected.isEmpty(), reason);
}

void TMainForm::clearDriveView()
{
    m_shown.clear();
    Panel4->Clear();
}

void TMainForm::UpdateActions()
{
    acDeleteComputerInformationUpdate();
    acOverwriteUserPass->Update();
}

void TMainForm::acDeleteComputerInformationUpdate()
{
    acDeleteComputerInformation->setVisible(m_listSearchKind == TSearchKind::NetworkNeighbourhood);
    const TComputerRow *computer = m_computers->Computer(m_selected);
    acDeleteComputerInformation->setEnabled(computer && (computer->Group == TComputerGroup::Unavailable ||
                                                         computer->Group == TComputerGroup::Suspected));
}

void TMainForm::acDeleteComputerInformationExecute()
{
    acDeleteComputerInformationUpdate();
    if (!acDeleteComputerInformation->isEnabled() || !acDeleteComputerInformation->isVisible() || m_selected.isEmpty())
        return;
    const QString caption = m_selected;
    if (ShowMessageBox(this, u"Atention"_s, u"Do you want delete information about "_s + caption + u"?"_s,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const QString file = informationFileName(DataFolder(), caption);
    QFile f(file);
    if (f.exists() && !f.remove())
        throw Exception(u"Cannot delete \"%1\": %2"_s.arg(file, f.errorString()));
    // The neighbour in the same group takes the selection, and is shown; with
    // none, nothing stays selected.
    const QModelIndex index = m_computers->Find(caption);
    QString next;
    for (const int row : {index.row() + 1, index.row() - 1})
        if (const TComputerRow *neighbour = m_computers->Computer(m_computers->index(row, 0, index.parent()))) {
            next = neighbour->Name;
            break;
        }
    removeItem(caption);
    {
        const bool guard = std::exchange(m_merging, true);
        lvComputers->clearSelection();
        m_merging = guard;
    }
    if (!next.isEmpty())
        reselect(next);
    else
        lvComputers->setCurrentIndex(QModelIndex());
    UpdateActions();
}

} // namespace valmora

// The computer list's model under Qt's model tester, and the flow layout of
// the drive buttons.

#include "ComputerListModel.h"
#include "FlowLayout.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

TComputerRow Row(const QString &name, TComputerGroup group, int drives = 0)
{
    auto list = std::make_shared<TDriveList>();
    for (int i = 0; i < drives; ++i)
        list->Add(std::make_unique<TDriveInformation>());
    return {name, group, false, list, {}, 0};
}

} // namespace

class TestComputerListModel : public QObject
{
    Q_OBJECT
private slots:
    void statesAndGroups_data();
    void statesAndGroups();
    void groupsInNameOrderThroughPutMoveAndRemove();
    void selectionFollowsAComputerThatChangesGroup();
    void flowLayoutWrapsItsItems();
};

void TestComputerListModel::statesAndGroups_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("group");
    QTest::newRow("suspected") << 1 << 1;
    QTest::newRow("good") << 5 << 5;
    QTest::newRow("no state") << 0 << 4;
    QTest::newRow("beyond the states") << 6 << 4;
    QTest::newRow("negative") << -1 << 4;
}

void TestComputerListModel::statesAndGroups()
{
    QFETCH(int, state);
    QFETCH(int, group);
    QCOMPARE(StateOfGroup(GroupFromState(state)), group);
}

void TestComputerListModel::groupsInNameOrderThroughPutMoveAndRemove()
{
    TComputerListModel model({}, {});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(model.index(0, 0).data().toString(), u"Suspected (available and unavailable)"_s);
    QVERIFY(model.hasChildren(model.GroupIndex(TComputerGroup::Good)));
    QVERIFY(!model.Computer(model.GroupIndex(TComputerGroup::Good)));

    model.Reset({Row(u"zulu"_s, TComputerGroup::Good), Row(u"Alpha"_s, TComputerGroup::Good),
                 Row(u"beta"_s, TComputerGroup::Unavailable, 2), Row(u"_x"_s, TComputerGroup::Good)});
    // ASCII letters without regard to case; "_" sorts after the letters as their upper case does.
    QCOMPARE(model.Names(TComputerGroup::Good), (QStringList{u"Alpha"_s, u"zulu"_s, u"_x"_s}));
    QCOMPARE(model.Count(), 4);
    QCOMPARE(model.FirstComputer(), model.Find(u"BETA"_s));
    QCOMPARE(model.Computer(u"BETA"_s)->Drives->Count(), 2);

    // Put updates in place, keeps the caption and moves between groups in order.
    model.Put(Row(u"ZULU"_s, TComputerGroup::Good, 1));
    QCOMPARE(model.Names(TComputerGroup::Good), (QStringList{u"Alpha"_s, u"zulu"_s, u"_x"_s}));
    QCOMPARE(model.Computer(u"zulu"_s)->Drives->Count(), 1);
    model.Put(Row(u"ALPHA"_s, TComputerGroup::Unavailable));
    QCOMPARE(model.Names(TComputerGroup::Unavailable), (QStringList{u"Alpha"_s, u"beta"_s}));
    QCOMPARE(model.Names(TComputerGroup::Good), (QStringList{u"zulu"_s, u"_x"_s}));
    model.Put(Row(u"gamma"_s, TComputerGroup::Suspected));
    QCOMPARE(model.Names(), (QStringList{u"gamma"_s, u"Alpha"_s, u"beta"_s, u"zulu"_s, u"_x"_s}));
    const QModelIndex gamma = model.Find(u"gamma"_s);
    QCOMPARE(gamma.data(TComputerListModel::GroupRole).toInt(), 1);
    QCOMPARE(gamma.parent(), model.GroupIndex(TComputerGroup::Suspected));

    model.Remove(u"BETA"_s);
    model.Remove(u"nobody"_s);
    QCOMPARE(model.Names(TComputerGroup::Unavailable), (QStringList{u"Alpha"_s}));
    model.Clear();
    QCOMPARE(model.Count(), 0);
    QVERIFY(!model.FirstComputer().isValid());
}

void TestComputerListModel::selectionFollowsAComputerThatChangesGroup()
{
    TComputerListModel model({}, {});
    QItemSelectionModel selection(&model);
    model.Reset({Row(u"PC1"_s, TComputerGroup::Good), Row(u"PC2"_s, TComputerGroup::Good)});
    selection.setCurrentIndex(model.Find(u"PC2"_s), QItemSelectionModel::ClearAndSelect);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.Put(Row(u"PC2"_s, TComputerGroup::Suspected, 1));
    QCOMPARE(selection.currentIndex(), model.Find(u"PC2"_s));
    QCOMPARE(selection.selectedIndexes(), (QModelIndexList{model.Find(u"PC2"_s)}));
    QCOMPARE(changed.count(), 1);
}

void TestComputerListModel::flowLayoutWrapsItsItems()
{
    QWidget panel;
    auto *layout = new TFlowLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    std::vector<QWidget *> items;
    for (int i = 0; i < 4; ++i) {
        auto *item = new QWidget(&panel);
        item->setFixedSize(150, 32);
        layout->addWidget(item);
        items.push_back(item);
    }
    QVERIFY(layout->hasHeightForWidth());
    QCOMPARE(layout->heightForWidth(600), 32);
    QCOMPARE(layout->heightForWidth(599), 64);
    QCOMPARE(layout->heightForWidth(100), 4 * 32); // one per row however narrow
    layout->setGeometry(QRect(0, 0, 460, 64));
    QCOMPARE(items[2]->pos(), QPoint(300, 0));
    QCOMPARE(items[3]->pos(), QPoint(0, 32));
    items[1]->hide();
    layout->setGeometry(QRect(0, 0, 460, 64));
    QCOMPARE(items[3]->pos(), QPoint(300, 0)); // hidden items take no room
}

QTEST_MAIN(TestComputerListModel)
#include "TestComputerListModel.moc"

// Pictures of the main window for the README: the window against the recorded
// network of tests/fixtures/gui/recordings, after its first cycle, with a
// suspected computer selected, and the Options dialog opened from its menu.
// Run by tools/screenshot.sh.
//
//   gui_screenshot OUTPUT_FOLDER

#include "GuiSupport.h"

#include "Options2Form.h"
#include "app/DialogDriver.h"

#include "refresh/StateFile.h"

#include <QApplication>
#include <QPushButton>
#include <QDir>
#include <QToolButton>
#include <QTreeView>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_screenshot OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    test::ScopedSandbox box;
    test::WriteQuietSettings();
    // Widths a user would have dragged the columns to; the window keeps them.
    const QList<int> widths{40, 190, 60, 90, 80, 70, 90};
    for (int i = 0; i < widths.size(); ++i)
        TRegistryHelper::WriteInteger(TOptions::KeyPath, u"lvSmartDataColumns"_s + QString::number(i),
                                      TRootKey::CurrentUser, widths.at(i));
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"lvSmartDatacount"_s, TRootKey::CurrentUser, 7);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Width"_s, TRootKey::CurrentUser, 1000);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Height"_s, TRootKey::CurrentUser, 600);
    // OLDPC stopped answering; its last readout held a failing drive.
    test::StoreReadout(u"FLAGGEDPC"_s, u"OLDPC"_s);
    auto names = std::make_shared<test::NetworkNames>();
    names->set({u"GOODPC"_s, u"FLAGGEDPC"_s, u"NOSMARTPC"_s, u"RPCPC"_s, u"OLDPC"_s, u"LAPTOP7"_s});

    TMainForm form(test::Parts(names, {u"OLDPC"_s, u"LAPTOP7"_s}));
    form.ShowAtStart();
    if (!QTest::qWaitFor([&] { return form.MergeCount() >= 1; }, 30000)) {
        std::fprintf(stderr, "gui_screenshot: the first cycle did not end\n");
        return 1;
    }
    int saved = 0;
    auto shoot = [&](const QString &computer, int drive, int row, const QString &file) {
        form.lvComputers->setCurrentIndex(form.FindItem(computer));
        if (drive > 0 && drive < static_cast<int>(form.DriveButtons().size()))
            form.DriveButtons()[static_cast<std::size_t>(drive)].Button->click();
        if (row >= 0 && row < form.Panel4->lvSmartData->model()->rowCount())
            form.Panel4->lvSmartData->setCurrentIndex(form.Panel4->lvSmartData->model()->index(row, 0));
        QTest::qWait(100);
        const QString path = out + u'/' + file;
        if (form.grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
            ++saved;
        }
    };
    shoot(u"FLAGGEDPC"_s, 1, 1, u"main-window.png"_s);
    shoot(u"OLDPC"_s, 0, 2, u"unavailable-suspect.png"_s);

    // The Options dialog as the Commands menu opens it, with a range to show.
    TOptions::WriteIPRanges({u"192.168.1.1-192.168.1.254"_s});
    test::WhenModal<TfrmOptions2>([&](TfrmOptions2 *dialog) {
        QTest::qWait(100);
        const QString path = out + u"/options-dialog.png"_s;
        if (dialog->grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
            ++saved;
        }
        dialog->btnCancel->click();
    });
    if (!test::ChooseFromMenuBar(form.menuBar(), form.mmCommands, u"Options"_s))
        std::fprintf(stderr, "gui_screenshot: the Options command could not be chosen\n");
    return saved == 3 ? 0 : 1;
}

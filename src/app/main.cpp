// The desktop program: one instance, the log, the main window.

#include "CheckPrevious.h"
#include "foundation/DataPaths.h"
#include "foundation/Settings.h"
#include "MainForm.h"
#include "MessageBox.h"

#include "drivedata/Verdicts.h"
#include "foundation/Environment.h"
#include "foundation/LogStart.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "platform/SessionKeyring.h"
#include "refresh/DataFolderLock.h"

#include <QApplication>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf16(valmora::kProgramCaption));
    QApplication::setApplicationDisplayName(QString::fromUtf16(valmora::kProgramCaption));
    QApplication::setDesktopFileName(u"valmora"_s);
    // The window may hide in the tray while a message box closes: only closing the window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    valmora::TCheckPrevious previous;
    if (previous.CheckPrevious())
        return 0;

    valmora::StartLog(valmora::XLogSystem());
    // A monitor service checking the same data folder would write the same
    // readouts and states at the same time: one of the two must stay away.
    valmora::TDataFolderLock cycles(valmora::DataPaths::DataFolder());
    if (!cycles.TryLock()) {
        valmora::XLogSystem().LogException(cycles.Problem(), 0);
        valmora::ShowMessageBox(nullptr, u"VALMORA 2015"_s, u"Valmora cannot start: "_s + cycles.Problem() + u'.');
        return 1;
    }
    // The domain password lives in the session's keyring where there is one.
    valmora::InstallPasswordVault(valmora::platform::CreateSessionKeyring());

    // Judged with the drive database, the baseline of the data folder and the user's switch.
    valmora::SetVerdictRules(valmora::ProgramVerdictRules(
        valmora::DataPaths::DataFolder(), valmora::TSettings::Current()->SectorWarnings));

    valmora::TMainForm form;
    previous.OnActivate = [&form] { form.BringToFront(); };
    QObject::connect(&form, &valmora::TMainForm::formClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form.ShowAtStart();
    const int code = QApplication::exec();
    valmora::FlushVerdictRules();
    return code;
}

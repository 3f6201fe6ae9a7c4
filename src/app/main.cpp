// The desktop program: one instance, the log, the main window.

#include "CheckPrevious.h"
#include "foundation/DataPaths.h"
#include "foundation/Settings.h"
#include "MainForm.h"

#include "drivedata/Verdicts.h"
#include "foundation/Environment.h"
#include "foundation/LogStart.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "platform/SessionKeyring.h"

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

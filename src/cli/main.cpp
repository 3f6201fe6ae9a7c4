// valmora-cli: the monitoring engine without a window.
#include "foundation/Environment.h"
#include "foundation/Options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"valmora-cli"_s);
    QCoreApplication::setApplicationVersion(u"" VALMORA_VERSION ""_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Valmora: hard-drive health of the computers of a network, without a window."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settings(u"settings"_s, u"Print where settings and data are kept."_s);
    parser.addOption(settings);
    parser.process(app);

    if (parser.isSet(settings)) {
        using valmora::TWindowsFolders;
        std::printf("data folder: %s\n", qUtf8Printable(TWindowsFolders::SpecialFolder(TWindowsFolders::CommonAppData)
                                                          + u"Quillmoor/Valmora/"_s));
        std::printf("user settings: %s\n", qUtf8Printable(TWindowsFolders::UserConfigFolder() + u"valmora/user.reg"_s));
        std::printf("machine settings: %s\n",
                    qUtf8Printable(TWindowsFolders::MachineConfigFolder() + u"valmora/machine.reg"_s));
        return 0;
    }
    parser.showHelp(0);
}

// A second process for the single-instance test: exit 0 when an instance of
// the given name runs already (and was asked to come forward), 3 when this
// process became the instance.

#include "CheckPrevious.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    valmora::TCheckPrevious previous(QString::fromLocal8Bit(argv[1]));
    return previous.CheckPrevious() ? 0 : 3;
}

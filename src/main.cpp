#include "app/MirelHelperApp.h"
#include "platform/DataDirectory.h"
#include "store/StoreStartup.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// "--init-store": creates (or opens and checks) Info.mdb in the data
// directory and ends, without a display. Scripts use it to prepare a data
// directory before the first real start.
int InitStoreOnly(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = DataDirectory();
    const bool opened = OpenStore(dir);
    CloseStore();
    if (!opened) {
        std::fprintf(stderr, "mirelhelper: cannot open %s/Info.mdb\n", qPrintable(dir));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--init-store") == 0)
        return InitStoreOnly(argc, argv);

    QApplication app(argc, argv);
    CMirelHelperApp theApp;
    const int code = theApp.Run();
    // A worker that ignored its stop flag still holds the window and the
    // store, which exit then left alone; it must not meet them being torn
    // down by the process's own end either. Every statement is complete on
    // its own, so ending here leaves nothing half-written.
    if (!theApp.WorkersStopped()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

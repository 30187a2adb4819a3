#include "app/MirelHelperApp.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int code = 0;
    bool clean = true;
    {
        CMirelHelperApp theApp;
        code = theApp.Run();
        clean = theApp.WorkersStopped();
    }
    // A worker that ignored its stop flag must not meet objects being torn
    // down by the process's own exit: end here, everything saved is saved.
    if (!clean) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

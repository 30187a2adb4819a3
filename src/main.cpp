#include "app/ExitSignals.h"
#include "app/MirelHelperApp.h"
#include "app/SingleInstance.h"
#include "iploc/IpLocator.h"
#include "platform/DataDirectory.h"
#include "platform/Log.h"
#include "platform/PrivateFiles.h"
#include "store/AdoConnection.h"
#include "store/Schema.h"
#include "store/StoreConfig.h"
#include "store/StoreCopy.h"
#include "store/StoreStartup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// "--init-store": creates (or opens and checks) Info.mdb in the data
// directory and ends, without a display. Scripts use it to prepare a data
// directory before the first real start. Refused while a copy runs on it.
int InitStoreOnly(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = DataDirectory();
    SecureDataDirectory(dir);
    CSingleInstance single(dir);
    if (!single.TryLock() && single.LockHeldElsewhere()) {
        std::fprintf(stderr, "mirelhelper: a copy of the program is running on %s; --init-store refused\n",
                     qPrintable(dir));
        return 2;
    }
    const bool opened = OpenStore(dir);
    CloseStore();
    if (!opened) {
        std::fprintf(stderr, "mirelhelper: cannot open %s/Info.mdb\n", qPrintable(dir));
        return 1;
    }
    return 0;
}

// "--ip-data FILE": checks FILE (ipdb or QQWry.Dat format) and copies it
// into the data directory, where a running copy takes it at its next lookup.
int InstallIpData(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString report;
    const bool installed = CIpLocator::InstallFile(QString::fromLocal8Bit(argv[2]), DataDirectory(), report);
    std::fprintf(installed ? stdout : stderr, "mirelhelper: %s\n", qPrintable(report));
    return installed ? 0 : 1;
}

// "--copy-store-to-team": copies the accounts, visits, greeting log and page
// views of the data directory's Info.mdb into the team store its
// mirelhelper.ini names, skipping rows already there, and prints the counts.
int CopyStoreToTeamOnly(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = DataDirectory();
    SecureDataDirectory(dir);
    const CStoreConfig config = ReadStoreConfig(dir);
    if (!config.team) {
        std::fprintf(stderr,
                     "mirelhelper: %s/mirelhelper.ini does not choose a team store: set [store] backend=postgresql "
                     "and url= first; nothing copied\n",
                     qPrintable(dir));
        return 1;
    }
    const QString path = dir + QStringLiteral("/Info.mdb");
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr, "mirelhelper: there is no %s to copy\n", qPrintable(path));
        return 1;
    }
    CAdoConnection local;
    if (!local.Connect(path)) {
        std::fprintf(stderr, "mirelhelper: cannot open %s: %s\n", qPrintable(path), qPrintable(local.LastOpenError()));
        return 1;
    }
    // A store of an earlier version is read in today's column names, as the program would open it.
    UpgradeSchema(&local);
    std::printf("mirelhelper: copying %s into the team store %s\n", qPrintable(path),
                qPrintable(TeamUrlForDisplay(config.url)));
    CAdoConnection team;
    if (!team.ConnectTeam(config.url, config.machine)) {
        std::fprintf(stderr, "mirelhelper: cannot connect to the team store: %s\n", qPrintable(team.LastOpenError()));
        return 1;
    }
    // ConnectTeam keeps retrying a server that is away; a copy does not wait for it.
    if (!team.IsReachable()) {
        std::fprintf(stderr, "mirelhelper: the team store's server does not answer (%s)\n",
                     qPrintable(TeamUrlForDisplay(config.url)));
        return 1;
    }
    CStoreCopyCounts counts;
    QString error;
    const bool copied = CopyStoreToTeam(local, team, counts, error);
    std::printf("mirelhelper: %s\n", qPrintable(StoreCopyReport(counts)));
    if (!copied)
        std::fprintf(stderr, "mirelhelper: copy stopped: %s\n", qPrintable(error));
    team.Close();
    local.Close();
    return copied ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--init-store") == 0)
        return InitStoreOnly(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--ip-data") == 0)
        return InstallIpData(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--copy-store-to-team") == 0)
        return CopyStoreToTeamOnly(argc, argv);

    QApplication app(argc, argv);
    // The desktop matches the window to its menu entry (and the entry's actions).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mirelhelper.MirelHelper"));
    // The menu entry's actions: the running copy does them, or this one once it is up.
    const std::optional<CSingleInstance::ERequest> request =
        CSingleInstance::RequestFromArguments(QCoreApplication::arguments());
    if (!request) {
        std::fprintf(stderr,
                     "mirelhelper: unknown argument %s (known: --show-visitors, --history, --toggle-alerts, "
                     "--init-store, --ip-data FILE, --copy-store-to-team)\n",
                     argv[1]);
        return 2;
    }
    const QString dataDir = DataDirectory();
    // A second start on the same data directory hands over to the running copy
    // and leaves the store alone.
    CSingleInstance single(dataDir);
    switch (single.Claim(*request)) {
    case CSingleInstance::EClaim::Handed:
        return 0;
    case CSingleInstance::EClaim::Refused:
        std::fprintf(stderr, "mirelhelper: another copy holds %s but does not answer\n", qPrintable(single.LockPath()));
        return 1;
    case CSingleInstance::EClaim::First:
        break;
    }
    // Before anything can take long: a signal from now on ends the program in order.
    CExitSignals exitSignals;
    exitSignals.Install();
    InstallLog(dataDir);
    qCInfo(LogUi).noquote() << "started on" << dataDir;
    SecureDataDirectory(dataDir);
    single.Listen();

    CMirelHelperApp theApp;
    QObject::connect(&single, &CSingleInstance::Requested, &theApp, &CMirelHelperApp::OnRequest);
    if (*request != CSingleInstance::ERequest::Show)
        QTimer::singleShot(0, &theApp, [&theApp, request] { theApp.OnRequest(*request); });
    QObject::connect(&exitSignals, &CExitSignals::ExitRequested, &theApp, [&theApp](int signalNumber) {
        qCInfo(LogUi) << CExitSignals::SignalName(signalNumber) << "received: ending as the exit command does";
        theApp.RequestExit();
    });
    const int code = theApp.Run();
    // A worker that ignored its stop flag still holds the window and the
    // store, which exit then left alone; it must not meet them being torn
    // down by the process's own end either. Every statement is complete on
    // its own, so ending here leaves nothing half-written.
    if (!theApp.WorkersStopped()) {
        qCWarning(LogUi) << "ended with a worker still running";
        // The next start need not wait for a lock or a socket of ours.
        single.Release();
        std::fflush(nullptr);
        std::_Exit(code);
    }
    qCInfo(LogUi) << "ended";
    return code;
}

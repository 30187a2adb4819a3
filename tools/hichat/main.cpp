// hichat: a small local chat client that takes the IM service's "lumochat://"
// links. One instance runs; later invocations hand their link to it and end.
//
//   hichat [--log FILE] [--instance NAME] [LINK]   open LINK (starting the instance if needed)
//   hichat --foreground [...] [LINK]               be the instance
//   hichat --quit | --ping                         ask the running instance
#include "HichatServer.h"
#include "MessageLog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QProcess>

#include <cstdio>

namespace {

// A link invocation without a running instance starts one in the
// background, detached from whoever handed us the link (the link opener
// waits for us and must not wait for the chat client's whole life).
bool StartInstance(const QString& instance, const QString& logOption, const QString& link)
{
    QStringList arguments{QStringLiteral("--foreground"), QStringLiteral("--instance"), instance};
    if (!logOption.isEmpty())
        arguments << QStringLiteral("--log") << CMessageLog::ChoosePath(logOption);
    arguments << link;
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromUtf8(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local chat client for lumochat:// links"));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Append sent messages to FILE."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption instanceOption(QStringLiteral("instance"), QStringLiteral("Socket name of the instance."),
                                            QStringLiteral("NAME"));
    const QCommandLineOption foregroundOption(QStringLiteral("foreground"), QStringLiteral("Be the running instance."));
    const QCommandLineOption quitOption(QStringLiteral("quit"), QStringLiteral("Ask the running instance to end."));
    const QCommandLineOption pingOption(QStringLiteral("ping"), QStringLiteral("Exit 0 when an instance runs."));
    parser.addOptions({logOption, instanceOption, foregroundOption, quitOption, pingOption});
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("link"), QStringLiteral("lumochat://message/?sid=...&id=..."));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "hichat: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    const QString instance =
        parser.isSet(instanceOption) ? parser.value(instanceOption) : CHichatServer::DefaultInstanceName();
    const QString link = parser.positionalArguments().value(0);

    if (parser.isSet(quitOption) || parser.isSet(pingOption)) {
        QCoreApplication app(argc, argv);
        const QString command = parser.isSet(quitOption) ? QStringLiteral("quit") : QStringLiteral("ping");
        return CHichatServer::SendCommand(instance, command) == CHichatServer::EReply::Ok ? 0 : 1;
    }
    if (!link.isEmpty() && !parser.isSet(foregroundOption)) {
        QCoreApplication app(argc, argv);
        switch (CHichatServer::SendCommand(instance, QStringLiteral("open ") + link)) {
        case CHichatServer::EReply::Ok:
            return 0;
        case CHichatServer::EReply::Error:
            std::fprintf(stderr, "hichat: not a chat link: %s\n", qPrintable(link));
            return 1;
        case CHichatServer::EReply::NoInstance:
            break;
        }
        return StartInstance(instance, parser.value(logOption), link) ? 0 : 1;
    }

    // The window class of every chat window: "BaseGui".
    QApplication::setApplicationName(QStringLiteral("BaseGui"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    CHichatServer server(CMessageLog::ChoosePath(parser.value(logOption)));
    if (!server.Listen(instance)) {
        // Lost a start race: the other instance takes the link.
        if (!link.isEmpty())
            return CHichatServer::SendCommand(instance, QStringLiteral("open ") + link) == CHichatServer::EReply::Ok
                       ? 0
                       : 1;
        std::fprintf(stderr, "hichat: an instance already runs as %s\n", qPrintable(instance));
        return 1;
    }
    std::printf("ready %s\n", qPrintable(instance));
    std::fflush(stdout);
    if (!link.isEmpty())
        server.OpenLink(link);
    return app.exec();
}

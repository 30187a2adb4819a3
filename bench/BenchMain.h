#pragma once
// The main of each Google Benchmark program here: the Qt application the code
// measured needs (widgets on the offscreen platform unless another is chosen),
// the benchmarks, then what the program must close (its store, say).
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <type_traits>

template <class Application> int RunBenchmarks(int argc, char** argv, void (*afterwards)() = nullptr)
{
    if constexpr (!std::is_same_v<Application, QCoreApplication>) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (afterwards)
        afterwards();
    return 0;
}

#pragma once

#include <QGuiApplication>

#include <benchmark/benchmark.h>

// The entry of a benchmark that draws: Qt lays out text only with an application alive, and the
// offscreen platform needs no display (fonts are found the same either way).
inline int runBenchmarksWithQt(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

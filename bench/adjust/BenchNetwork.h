// The synthetic networks the bundle benchmarks share: a ring whose points
// every image sees (kind 0) or a block where each point is seen by about ten
// images (kind 1), with image noise and every 50th point a control point.
#pragma once

#include <benchmark/benchmark.h>

#include "../../tests/adjust/support/BundleNetwork.h"

inline void BuildBenchNetwork(bundletest::Network& net, int images, int points, int kind)
{
    bundletest::NetworkOptions o;
    o.seed = 4242;
    o.noise = 0.001;
    o.imageSigma = 0.001;
    if (kind == 0)
        bundletest::BuildRing(net, images, points, o);
    else
        bundletest::BuildBlock(net, images, points, o);
    bundletest::AddControl(net, 50, 0.005);
    net.settings.convergenceLimit = 5e-6; // the default
    net.settings.maxIterations = 30;
    net.settings.totalErrorPropagation = true;
}

// One run of `run` on a network, on one and on eight threads: its arguments
// are images, points, kind, threads and `last`.
inline void RegisterOnOneAndEight(const char* name, void (*run)(benchmark::State&), int images, int points, int kind,
                                  int last)
{
    for (int threads : {1, 8})
        benchmark::RegisterBenchmark(name, run)
            ->Args({images, points, kind, threads, last})
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
}

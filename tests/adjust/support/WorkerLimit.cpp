// The bundle tests run with the number of worker threads given by
// KESTRELON_BUNDLE_WORKERS (unset: the engine's own choice); CTest runs them
// with 1, 2 and 8. KESTRELON_BUNDLE_SOLVER ("dense" or "sparse") forces the
// storage of the reduced system (unset: chosen by its fill); so does a
// ":dense" or ":sparse" after the number of workers (CTest's run on two).
#include <cstdlib>
#include <cstring>

#include "AdjustmentEngine.h"

namespace {

struct WorkerLimitFromEnvironment {
    WorkerLimitFromEnvironment()
    {
        const char* solver = std::getenv("KESTRELON_BUNDLE_SOLVER");
        if (const char* value = std::getenv("KESTRELON_BUNDLE_WORKERS")) {
            CAdjustmentEngine::SetDefaultWorkerLimit(std::atoi(value));
            if (const char* colon = std::strchr(value, ':'))
                solver = colon + 1;
        }
        if (const char* value = solver) {
            if (std::strcmp(value, "dense") == 0)
                CAdjustmentEngine::SetDefaultSolver(CAdjustmentEngine::SOLVER_DENSE);
            else if (std::strcmp(value, "sparse") == 0)
                CAdjustmentEngine::SetDefaultSolver(CAdjustmentEngine::SOLVER_SPARSE);
        }
    }
};

const WorkerLimitFromEnvironment applied;

} // namespace

// The bundle tests run with the number of worker threads given by
// KESTRELON_BUNDLE_WORKERS (unset: the engine's own choice); CTest runs them
// with 1, 2 and 8.
#include <cstdlib>

#include "AdjustmentEngine.h"

namespace {

struct WorkerLimitFromEnvironment {
    WorkerLimitFromEnvironment()
    {
        if (const char* value = std::getenv("KESTRELON_BUNDLE_WORKERS"))
            CAdjustmentEngine::SetDefaultWorkerLimit(std::atoi(value));
    }
};

const WorkerLimitFromEnvironment applied;

} // namespace

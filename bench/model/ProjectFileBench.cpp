// Saving and loading projects of 10^4, 10^5 and 10^6 points. Each run happens
// in a child process of its own, so that its peak memory (the high-water mark
// of the resident set, reset before the run) is its own. Counters:
//   peak_MB     resident memory the run added at its peak
//   data_MB     resident memory the loaded or saved data occupies
//   peak_ratio  peak_MB / data_MB
//   file_MB     size of the project file
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RunFigures {
    double seconds = 0.0;
    double peakBytes = 0.0;
    double dataBytes = 0.0;
    bool ok = false;
};

// A field of /proc/self/status in bytes.
double StatusBytes(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::atof(line.c_str() + n + 1) * 1024.0;
    return 0.0;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string Folder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/kestrelon-bench-XXXXXX";
        const char* made = std::getenv("KESTRELON_BENCH_DIR") ? std::getenv("KESTRELON_BENCH_DIR") : mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

std::string ProjectPath(int points)
{
    return Folder() + "/points" + std::to_string(points) + ".kst";
}

std::unique_ptr<CProjectDocument> MakeProject(int points)
{
    auto doc = std::make_unique<CProjectDocument>();
    CPointSet* set = doc->pointSets.AddNew();
    set->name = (Folder() + "/Bundle.xyz").c_str();
    char label[24];
    for (int i = 0; i < points; ++i) {
        std::snprintf(label, sizeof label, "P%07d", i);
        CObjectPoint point(label, 0.001 * i, 2.0 - 0.0003 * i, 0.5 + 1e-6 * i);
        point.SetSigmaX(0.01);
        point.SetSigmaY(0.02);
        point.SetSigmaZ(0.03);
        set->AddCopy(point);
    }
    return doc;
}

// Runs work in a child process and gives its time and memory figures.
template <class Work>
RunFigures InChild(Work work)
{
    int channel[2];
    RunFigures figures;
    if (pipe(channel) != 0)
        return figures;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        RunFigures result = work();
        const ssize_t put = write(channel[1], &result, sizeof result);
        _exit(put == sizeof result ? 0 : 1);
    }
    close(channel[1]);
    if (child > 0 && read(channel[0], &figures, sizeof figures) != sizeof figures)
        figures.ok = false;
    close(channel[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    return figures;
}

void EnsureSaved(int points)
{
    struct stat st;
    if (stat(ProjectPath(points).c_str(), &st) == 0)
        return;
    InChild([points] {
        RunFigures r;
        auto doc = MakeProject(points);
        r.ok = ReadWriteProjectFile(*doc, ProjectPath(points).c_str(), PROJECT_FILE_SAVE).ok;
        return r;
    });
}

double FileBytes(int points)
{
    struct stat st;
    return stat(ProjectPath(points).c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
}

void Report(benchmark::State& state, const RunFigures& r, int points)
{
    if (!r.ok)
        state.SkipWithError("the run failed");
    state.SetIterationTime(r.seconds);
    state.counters["peak_MB"] = r.peakBytes / 1e6;
    state.counters["data_MB"] = r.dataBytes / 1e6;
    state.counters["peak_ratio"] = r.dataBytes > 0 ? r.peakBytes / r.dataBytes : 0.0;
    state.counters["file_MB"] = FileBytes(points) / 1e6;
}

void BM_LoadProject(benchmark::State& state)
{
    const int points = static_cast<int>(state.range(0));
    EnsureSaved(points);
    for (auto _ : state) {
        const RunFigures r = InChild([points] {
            RunFigures f;
            malloc_trim(0);
            ResetPeak();
            const double base = StatusBytes("VmRSS:");
            auto doc = std::make_unique<CProjectDocument>();
            const auto start = std::chrono::steady_clock::now();
            f.ok = ReadWriteProjectFile(*doc, ProjectPath(points).c_str(), PROJECT_FILE_LOAD).ok &&
                   doc->pointSets.GetSize() == 1 && doc->pointSets.GetAt(0)->GetSize() == points;
            f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            f.peakBytes = StatusBytes("VmHWM:") - base;
            malloc_trim(0);
            f.dataBytes = StatusBytes("VmRSS:") - base;
            return f;
        });
        Report(state, r, points);
    }
}

void BM_SaveProject(benchmark::State& state)
{
    const int points = static_cast<int>(state.range(0));
    EnsureSaved(points);
    for (auto _ : state) {
        const RunFigures r = InChild([points] {
            RunFigures f;
            malloc_trim(0);
            const double base = StatusBytes("VmRSS:");
            auto doc = MakeProject(points);
            malloc_trim(0);
            f.dataBytes = StatusBytes("VmRSS:") - base;
            ResetPeak();
            const double before = StatusBytes("VmRSS:");
            const auto start = std::chrono::steady_clock::now();
            f.ok = ReadWriteProjectFile(*doc, ProjectPath(points).c_str(), PROJECT_FILE_SAVE).ok;
            f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            f.peakBytes = f.dataBytes + (StatusBytes("VmHWM:") - before);
            return f;
        });
        Report(state, r, points);
    }
}

BENCHMARK(BM_LoadProject)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveProject)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

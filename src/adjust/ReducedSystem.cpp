// The reduced normal system that both foldings solve, its datum rows and
// held parameters, and the choice between the foldings.
#include <algorithm>
#include <cstdio>

#include "AdjustmentEngine.h"
#include "FileIO.h"
#include "PackedNormals.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "SparseNormals.h"

// Which folding a run uses, and how a free network's datum enters it, is
// decided here and nowhere else.
const CAdjustmentEngine::FoldingScheme& CAdjustmentEngine::Scheme() const
{
    static const FoldingScheme freeStandard = {
        &CAdjustmentEngine::FormNormalsFreeStandard,   &CAdjustmentEngine::InvertFreeStandard,
        &CAdjustmentEngine::UpdateCamerasAndStations,  &CAdjustmentEngine::UpdatePointsStandard,
        &CAdjustmentEngine::ComputeCovariancesStandard, &CAdjustmentEngine::PropagateErrorsStandard,
        &CAdjustmentEngine::ComputeRmsStandardErrors,  true,
        false};
    static const FoldingScheme controlStandard = {
        &CAdjustmentEngine::FormNormalsControlStandard, &CAdjustmentEngine::InvertControl,
        &CAdjustmentEngine::UpdateCamerasAndStations,   &CAdjustmentEngine::UpdatePointsStandard,
        &CAdjustmentEngine::ComputeCovariancesStandard, &CAdjustmentEngine::PropagateErrorsStandard,
        &CAdjustmentEngine::ComputeRmsStandardErrors,   false,
        false};
    static const FoldingScheme freeReverse = {
        &CAdjustmentEngine::FormNormalsReverse,        &CAdjustmentEngine::InvertFreeReverse,
        &CAdjustmentEngine::UpdateCamerasAndPoints,    &CAdjustmentEngine::UpdateStationsReverse,
        &CAdjustmentEngine::ComputeCovariancesReverse, &CAdjustmentEngine::PropagateErrorsReverse,
        &CAdjustmentEngine::ComputeRmsStandardErrorsReverse, false,
        true};
    static const FoldingScheme controlReverse = {
        &CAdjustmentEngine::FormNormalsReverse,        &CAdjustmentEngine::InvertControl,
        &CAdjustmentEngine::UpdateCamerasAndPoints,    &CAdjustmentEngine::UpdateStationsReverse,
        &CAdjustmentEngine::ComputeCovariancesReverse, &CAdjustmentEngine::PropagateErrorsReverse,
        &CAdjustmentEngine::ComputeRmsStandardErrorsReverse, false,
        true};
    if (settings->standardFolding)
        return settings->freeNetwork ? freeStandard : controlStandard;
    return settings->freeNetwork ? freeReverse : controlReverse;
}

bool CAdjustmentEngine::InvertControl()
{
    if (sparse)
        return sparse->InvertOnPattern(GetWorkerCount());
    return normals->InvertSymmetric(true, GetWorkerCount());
}

SystemRows CAdjustmentEngine::ReducedRows() const
{
    SystemRows rows;
    rows.order = reducedCount;
    if (sparse)
        rows.sparse = sparse.get();
    else if (normals != nullptr)
        rows.T = normals->GetRowTable();
    return rows;
}

double CAdjustmentEngine::Cofactor(int i, int j) const
{
    if (sparse) {
        double q = 0.0;
        sparse->InverseAt(i, j, q);
        return q;
    }
    const CMatrix& Q = settings->freeNetwork && settings->standardFolding ? *bordered : *normals;
    return Q.GetAt(i, j);
}

namespace {

// Pairs of linked nodes, kept free of repeats as they grow.
class CLinkList {
public:
    void AddClique(std::vector<int32_t>& nodes)
    {
        std::sort(nodes.begin(), nodes.end());
        nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
        for (size_t a = 0; a < nodes.size(); ++a)
            for (size_t b = a + 1; b < nodes.size(); ++b)
                links.emplace_back(nodes[a], nodes[b]);
        if (links.size() > compactAt) {
            std::sort(links.begin(), links.end());
            links.erase(std::unique(links.begin(), links.end()), links.end());
            compactAt = std::max<size_t>(compactAt, 2 * links.size());
        }
    }
    std::vector<std::pair<int32_t, int32_t>> links;

private:
    size_t compactAt = 1u << 22;
};

} // namespace

// The blocks of the reduced system that are not zero: under standard
// folding each point links the cameras and stations that see it, under
// reverse folding each station its camera and the points it sees (and a
// scale bar its two ends). The sparse system is taken when forced, or when
// its factor needs far fewer operations than the dense one, since the dense
// factorisation runs on every core and the sparse one on one.
bool CAdjustmentEngine::ChooseSparseSystem()
{
    sparse.reset();
    const ReducedSolver effective = solverChoice != SOLVER_DEFAULT ? solverChoice : GetDefaultSolver();
    if (effective == SOLVER_DENSE || settings->freeNetwork || reducedCount < 2)
        return false;
    const bool force = effective == SOLVER_SPARSE;
    const int nCam = cameras->GetSize();
    const int nSta = images->GetSize();
    const int nPt = points->GetSize();
    const bool standard = settings->standardFolding;
    std::vector<int> sizes;
    sizes.assign(static_cast<size_t>(nCam), 10);
    sizes.resize(static_cast<size_t>(nCam) + static_cast<size_t>(standard ? nSta : nPt), standard ? 6 : 3);
    const double nodes = static_cast<double>(sizes.size());
    std::vector<int32_t> stationCamera(static_cast<size_t>(nSta));
    for (int j = 0; j < nSta; ++j)
        stationCamera[static_cast<size_t>(j)] = GetCameraIndex(*images->GetAt(j));
    const int listed = std::min(nPt, static_cast<int>(rayStart.size()));
    auto raysOf = [&](int i, int& first, int& end) {
        first = rayStart[static_cast<size_t>(i)];
        end = i + 1 < static_cast<int>(rayStart.size()) ? rayStart[static_cast<size_t>(i) + 1]
                                                        : static_cast<int>(rayImages.size());
    };

    // The work of listing the links, against the blocks of a dense system.
    double work = 0.0;
    std::vector<int32_t> perStation(static_cast<size_t>(nSta), 0);
    for (int i = 0; i < listed; ++i) {
        int first = 0, end = 0;
        raysOf(i, first, end);
        const double m = 2.0 * (end - first);
        work += m * m / 2.0;
        for (int r = first; r < end; ++r)
            ++perStation[static_cast<size_t>(rayImages[static_cast<size_t>(r)])];
    }
    if (!standard) {
        work = 0.0;
        for (int j = 0; j < nSta; ++j)
            work += (perStation[static_cast<size_t>(j)] + 1.0) * (perStation[static_cast<size_t>(j)] + 1.0) / 2.0;
    }
    // Far more links than blocks: the system is full, and listing them costly.
    if (!force && work > 4e7 && work > 8.0 * nodes * nodes)
        return false;

    CLinkList links;
    std::vector<int32_t> clique;
    if (standard) {
        // Each point's nodes, once each and ascending; then each node's
        // later neighbours through the points it takes part in, marked once
        // each: the links come out in order, without repeats.
        const int nodeCount = nCam + nSta;
        std::vector<int64_t> pointStart(static_cast<size_t>(listed) + 1, 0);
        std::vector<int32_t> pointNodes;
        pointNodes.reserve(rayImages.size() + static_cast<size_t>(listed));
        std::vector<int32_t> mark(static_cast<size_t>(nodeCount), -1);
        std::vector<int64_t> incidenceStart(static_cast<size_t>(nodeCount) + 1, 0);
        for (int i = 0; i < listed; ++i) {
            int first = 0, end = 0;
            raysOf(i, first, end);
            const size_t from = pointNodes.size();
            auto add = [&](int32_t a) {
                if (mark[static_cast<size_t>(a)] != i) {
                    mark[static_cast<size_t>(a)] = i;
                    pointNodes.push_back(a);
                    ++incidenceStart[static_cast<size_t>(a) + 1];
                }
            };
            for (int r = first; r < end; ++r) {
                const int j = rayImages[static_cast<size_t>(r)];
                add(nCam + j);
                if (stationCamera[static_cast<size_t>(j)] >= 0)
                    add(stationCamera[static_cast<size_t>(j)]);
            }
            std::sort(pointNodes.begin() + static_cast<std::ptrdiff_t>(from), pointNodes.end());
            pointStart[static_cast<size_t>(i) + 1] = static_cast<int64_t>(pointNodes.size());
        }
        for (int a = 0; a < nodeCount; ++a)
            incidenceStart[static_cast<size_t>(a) + 1] += incidenceStart[static_cast<size_t>(a)];
        // Each node's points, with where the node stands in the point's list.
        std::vector<std::pair<int64_t, int64_t>> incidence(static_cast<size_t>(incidenceStart.back()));
        {
            std::vector<int64_t> fill(incidenceStart.begin(), incidenceStart.end() - 1);
            for (int i = 0; i < listed; ++i) {
                const int64_t end = pointStart[static_cast<size_t>(i) + 1];
                for (int64_t e = pointStart[static_cast<size_t>(i)]; e < end; ++e)
                    incidence[static_cast<size_t>(fill[static_cast<size_t>(pointNodes[static_cast<size_t>(e)])]++)] = {e, end};
            }
        }
        std::fill(mark.begin(), mark.end(), -1);
        std::vector<int32_t> later;
        for (int a = 0; a < nodeCount; ++a) {
            later.clear();
            for (int64_t t = incidenceStart[static_cast<size_t>(a)]; t < incidenceStart[static_cast<size_t>(a) + 1]; ++t) {
                // The point's nodes after this one.
                const auto [at, end] = incidence[static_cast<size_t>(t)];
                for (int64_t e = at + 1; e < end; ++e) {
                    const int32_t b = pointNodes[static_cast<size_t>(e)];
                    if (mark[static_cast<size_t>(b)] != a) {
                        mark[static_cast<size_t>(b)] = a;
                        later.push_back(b);
                    }
                }
            }
            std::sort(later.begin(), later.end());
            for (int32_t b : later)
                links.links.emplace_back(a, b);
        }
    } else {
        std::vector<std::vector<int32_t>> seen(static_cast<size_t>(nSta));
        for (int i = 0; i < listed; ++i) {
            int first = 0, end = 0;
            raysOf(i, first, end);
            for (int r = first; r < end; ++r)
                seen[static_cast<size_t>(rayImages[static_cast<size_t>(r)])].push_back(nCam + i);
        }
        for (int j = 0; j < nSta; ++j) {
            clique.swap(seen[static_cast<size_t>(j)]);
            if (stationCamera[static_cast<size_t>(j)] >= 0)
                clique.push_back(stationCamera[static_cast<size_t>(j)]);
            links.AddClique(clique);
            std::vector<int32_t>().swap(clique);
        }
        if (settings->rigorousScale && scaleBars != nullptr) {
            for (int k = 0; k < scaleBars->GetSize(); ++k) {
                const CScaleBar* bar = scaleBars->GetAt(k);
                if (bar == nullptr)
                    continue;
                const int a = points->IndexOfLabel(bar->endLabel1);
                const int b = points->IndexOfLabel(bar->endLabel2);
                if (a >= 0 && b >= 0 && a != b)
                    links.links.emplace_back(nCam + a, nCam + b);
            }
        }
    }
    std::unique_ptr<CSparseNormals> system(new CSparseNormals);
    if (!system->Build(sizes, links.links) || system->Order() != reducedCount || !system->Analyse())
        return false;
    const double n = static_cast<double>(reducedCount);
    const double denseEntries = n * (n + 1.0) / 2.0;
    const double denseFlops = n * n * n / 3.0;
    if (!force && !(system->FactorFlops() * 8.0 < denseFlops && system->FactorEntries() < 0.5 * denseEntries))
        return false;
    sparse = std::move(system);
    return true;
}

// False when the computer's memory, where known, is smaller than `bytes`.
static bool MemoryHolds(double bytes)
{
    const double physical = GetPhysicalMemoryBytes();
    return !(physical > 0.0 && bytes > physical);
}

bool CAdjustmentEngine::SwitchToDenseSystem()
{
    if (!sparse)
        return false;
    const double order = static_cast<double>(reducedCount) + 1.0;
    if (order > 2.0e9 || !MemoryHolds(order * (order + 1.0) * sizeof(double)))
        return false;
    CMatrix* dense = new CMatrix(reducedCount + 1, -1);
    if (dense->GetRows() != reducedCount + 1) {
        delete dense;
        return false;
    }
    sparse->CopyToPacked(dense->GetRowTable());
    normals = dense;
    sparse.reset();
    return true;
}

bool CAdjustmentEngine::AllocateReducedSystem()
{
    const bool freeStandard = Scheme().borderedDatum;
    if (ChooseSparseSystem()) {
        // The system (values and columns, and its rows and sources in
        // elimination order), its factor, and the inverse on the factor's
        // pattern (values and row indices).
        const double bytes = (static_cast<double>(sparse->Entries()) * 4.0 +
                              sparse->FactorEntries() * 4.0) * sizeof(double) +
                             64.0 * static_cast<double>(reducedCount);
        if (!MemoryHolds(bytes)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "Adjustment failed: the reduced normal system of %d unknowns needs %.1f GB of memory, "
                          "more than this computer has",
                          reducedCount, bytes / 1e9);
            sparse.reset();
            return Fail(text);
        }
        solution.Resize(0);
        if (!solution.Resize(reducedCount)) {
            sparse.reset();
            return Fail("Adjustment failed: not enough memory for the reduced normal system");
        }
        solution.Zero();
        return true;
    }
    const double order = static_cast<double>(reducedCount) + 1.0;
    // The packed system and the working copy its inversion takes; the
    // bordered system and the datum block of a free network folded the
    // standard way.
    double doubles = order * (order + 1.0);
    if (freeStandard) {
        const double b = static_cast<double>(reducedCount) + 8.0;
        doubles += b * (b + 1.0) / 2.0 + 7.0 * reducedCount;
    }
    const double bytes = doubles * sizeof(double);
    if (reducedCount < 0 || order > 2.0e9 || !MemoryHolds(bytes)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "Adjustment failed: the reduced normal system of %d unknowns needs %.1f GB of memory, "
                      "more than this computer has",
                      reducedCount, bytes / 1e9);
        return Fail(text);
    }
    normals = new CMatrix(reducedCount + 1, -1);
    bool ok = normals->GetRows() == reducedCount + 1;
    solution.Resize(0);
    if (freeStandard) {
        bordered = new CMatrix(reducedCount + 8, -1);
        datum = new CMatrix(7, reducedCount);
        ok = ok && bordered->GetRows() == reducedCount + 8 && datum->GetRows() == 7 &&
             solution.Resize(reducedCount + 7);
    } else {
        ok = ok && solution.Resize(reducedCount);
    }
    if (!ok) {
        DeleteMatrices();
        return Fail("Adjustment failed: not enough memory for the reduced normal system");
    }
    solution.Zero();
    return true;
}

int CAdjustmentEngine::GetFreeDatumRows() const
{
    return freeDatumRows;
}

void CAdjustmentEngine::ChooseFreeDatumRows()
{
    freeDatumRows = 7;
    if (settings->freeNetwork && settings->rigorousScale && CountUsableScaleBars() > 0)
        freeDatumRows = 6;
}

// Zero row and column with a unit pivot: the parameter gets no correction
// and the others are solved as if it were fixed.
void CAdjustmentEngine::HoldReducedParameter(int index)
{
    if (sparse) {
        sparse->Hold(index);
        return;
    }
    double* const* T = normals->GetRowTable();
    for (int k = 0; k < index; ++k)
        T[k][index - k] = 0.0;
    const int length = normals->GetRowLength(index);
    for (int j = 0; j < length; ++j)
        T[index][j] = 0.0;
    T[index][0] = 1.0;
}


// Fits with a given result state, for the report layouts.
#pragma once

#include <vector>

#include "BestFitLine.h"
#include "BestFitSphere.h"

struct FitSummary {
    int iterations;
    double rms, cutoff;
};

template <class Base>
class CFitState : public Base {
public:
    using Base::Base;
    void SetSummary(const FitSummary& s)
    {
        this->iteration = s.iterations;
        this->rms = s.rms;
        this->cutoff = s.cutoff;
    }
    void SetResiduals(const std::vector<double>& r) { this->residuals = r; }
};

class CLineState : public CBestFitLine {
public:
    using CBestFitLine::CBestFitLine;
    void SetSummary(const FitSummary& s)
    {
        iteration = s.iterations;
        rms = s.rms;
        cutoff = s.cutoff;
    }
    void SetResidual(int i, double vx, double vy, double vz, double vxyz)
    {
        residual[static_cast<size_t>(i)] = Row{{vx, vy, vz, vxyz}};
    }
    void SetRmsV(double x, double y, double z, double xyz)
    {
        rmsV[0] = x, rmsV[1] = y, rmsV[2] = z, rmsV[3] = xyz;
    }
};

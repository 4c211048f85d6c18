// The outcome of the last bundle adjustment, triangulation or resection.
// It lives only in memory.
#pragma once

#include "NameBuffer.h"

class CAdjustmentSummary {
public:
    CAdjustmentSummary();

    // Zeroes every number; the labels stay.
    void Reset();
    // Copies every number; the labels stay.
    void Copy(const CAdjustmentSummary& other);
    int GetDegreesOfFreedom() const { return observations + constraints - parameters; }

    // Order of the four triples of extreme standard errors.
    enum { kLargestLimiting = 0, kSmallestLimiting = 1, kLargestTotal = 2, kSmallestTotal = 3 };

    int status;
    int iterations;
    int observations;
    int constraints;
    int parameters;
    double sigma0;
    double finalRejectionLimit;          // mm
    double vv;                           // sum of squared image residuals, mm^2
    double elapsed;                      // seconds
    int usedPoints;
    double rms;                          // micrometres
    double rmsLimiting[3];               // X, Y, Z
    double rmsTotal[3];
    double extremes[4][3];
    CNameBuffer extremeLabels[4][3];
};

// Rotation of a camera station from azimuth, elevation and roll, and the
// angles read back from a rotation matrix. R turns an object-space difference
// vector (point minus station) into the camera frame.
#pragma once

// Fills R from azimuth a, elevation e and roll r (radians).
void RotationFromAngles(double a, double e, double r, double R[3][3]);

// Elevation, azimuth and roll of R (radians). Rounding that pushes |R22|
// slightly past 1 is clamped. At elevations of +-90 degrees (to rounding) the
// elevation is exactly +-pi/2, the roll 0 and the azimuth carries the whole
// turn about the viewing axis, so the angles give R back.
double ElevationFromRotation(const double R[3][3]);
double AzimuthFromRotation(const double R[3][3]);
double RollFromRotation(const double R[3][3]);

// The report angles phi, omega and kappa of R (radians).
double PhiFromRotation(const double R[3][3]);
double OmegaFromRotation(const double R[3][3]);
double KappaFromRotation(const double R[3][3]);

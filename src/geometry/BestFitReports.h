// The text reports of the best fits, written into the project folder:
// "BestFitPlane.txt", "BestFitSphere.txt", "BestFitCircle.txt" and
// "BestFitLine.txt". Each returns false, after a message box, when the
// report cannot be written; an existing report is then left as it was.
#pragma once

class CProjectDocument;
class CBestFitPlane;
class CBestFitSphere;
class CBestFitCircle;
class CBestFitLine;

bool WriteBestFitPlaneReport(const CProjectDocument& doc, const CBestFitPlane& fit);
bool WriteBestFitSphereReport(const CProjectDocument& doc, const CBestFitSphere& fit);
bool WriteBestFitCircleReport(const CProjectDocument& doc, const CBestFitCircle& fit);
bool WriteBestFitLineReport(const CProjectDocument& doc, const CBestFitLine& fit);

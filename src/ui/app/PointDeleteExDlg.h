// "Delete Point(s)": names the points about to be deleted and, on Yes,
// deletes them from the displayed set and, when asked, disables and marks
// the observations that carry their labels. The set's file is written again.
#pragma once

#include "Dialog.h"

class CObjectPointArray;
class CPointSet;

// Writes the set to its own file with 12, 13 and 7 decimals; a file that
// cannot be written is named in a message (the set stays as it is in
// memory). A set without a name is not written. False after a failure.
bool RewritePointSetFile(const CPointSet& set, bool viaSave = false);

class CPointDeleteExDlg : public CDialog {
public:
    // Neither is owned.
    CPointDeleteExDlg(const CObjectPointArray* points, CPointSet* pointSet, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    // "Yes".
    void OnOK() override;
    // "No".
    void OnNo() { OnCancel(); }

    // "Do you really want to delete ..." for these labels.
    static QString MessageText(const CObjectPointArray& points);

    static constexpr int kMessage = 1348, kObservations = 1422, kNo = 7;

private:
    const CObjectPointArray* points;
    CPointSet* pointSet;
};

// "Point Status": the images on which a chosen point label is measured.
#pragma once

#include "Dialog.h"

#include <memory>

class CPointSet;
class CProjectImageList;
class QComboBox;
class QListWidget;

class CPointStatusDlg : public CDialog {
public:
    explicit CPointStatusDlg(QWidget* parent = nullptr);
    ~CPointStatusDlg() override;

    void SetImageList(const CProjectImageList* images) { m_pImages = images; }
    bool OnInitDialog() override;
    // Lists the images of the chosen label.
    void OnSelChangeLabel();

    // One entry per label measured by an enabled observation, in label
    // order: observationIndex holds, per project image, the index of the
    // label's observation there or -1; rayCount and usedRayCount count the images.
    void BuildPointTable();
    const CPointSet* GetPointTable() const { return m_pTable.get(); }

    QListWidget* m_ImageList;
    QComboBox* m_LabelCombo;

private:
    std::unique_ptr<CPointSet> m_pTable;
    const CProjectImageList* m_pImages = nullptr;
};

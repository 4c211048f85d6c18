// "AutoScan": the images of the project in a list, scanned for targets once
// by "Start Scan".
#pragma once

#include "Dialog.h"
#include "ProjectImageList.h"

class CImageSelectListCtrl;

class CAutoScanDlg : public CDialog {
public:
    explicit CAutoScanDlg(QWidget* parent = nullptr);

    // Takes the list's image pointers (call before DoModal).
    void SetImages(const CProjectImageList& images);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnStartScan();

    CImageSelectListCtrl* GetList() const { return m_pList; }
    const CImagePtrArray& GetImages() const { return m_Images; }
    // Read by the scan run.
    int m_bDisplayImages = 0;

private:
    CImageSelectListCtrl* m_pList;
    CImagePtrArray m_Images;
};

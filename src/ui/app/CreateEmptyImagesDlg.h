// Adds images without picture files to the project for one camera, each
// pointing at a free "ImageNNN.icf" in a chosen folder.
#pragma once

#include "Dialog.h"

class CCamera;
class CKestrelonDoc;

class CCreateEmptyImagesDlg : public CDialog {
public:
    CCreateEmptyImagesDlg(QWidget* parent, CCamera* camera, CKestrelonDoc* doc);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnBrowse();
    void OnOK() override;

    CCamera* m_pCamera;
    CKestrelonDoc* m_pDoc;
    int m_nImages = 0;
    QString m_strDirectory;
};

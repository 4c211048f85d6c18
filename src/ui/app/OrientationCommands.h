// The orientation commands' dialogs: the summary of a resection of all
// images and the "Triangulate" dialog.
#pragma once

#include "Dialog.h"
#include "ProjectImageList.h"

#include <QStringList>

#include <memory>

class CImageSelectListCtrl;
class CPointSet;
class QListWidget;
class QLineEdit;
class QPushButton;

// "Resection Summary": the lines of one Resect All, in the order added.
class CResectionSummaryDlg : public CDialog {
public:
    explicit CResectionSummaryDlg(QWidget* parent = nullptr);
    void AddLine(const QString& line) { m_Lines.append(line); }
    const QStringList& GetLines() const { return m_Lines; }
    bool OnInitDialog() override;

    QListWidget* m_List;

private:
    QStringList m_Lines;
};

// "Triangulate": the offered images, "Intersect" as often as wanted, then
// "Accept" keeps the "Triangulate" set or "Reject" brings back its points.
class CTriangulateDlg : public CDialog {
public:
    explicit CTriangulateDlg(QWidget* parent = nullptr);
    ~CTriangulateDlg() override;

    void SetImages(CImagePtrArray* images) { m_pImages = images; }
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnCancel() override;
    void OnIntersect();
    // The "IntersectImageControl" entries on the selected rows.
    void OnEnableImages(bool enable);
    const CPointSet* GetBackup() const { return m_pBackup.get(); }

    CImageSelectListCtrl* m_ImageList;
    QPushButton* m_Accept;
    QString m_strRMS;

private:
    CImagePtrArray* m_pImages = nullptr;
    std::unique_ptr<CPointSet> m_pBackup;
};

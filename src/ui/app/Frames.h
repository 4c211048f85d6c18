// The project frame (tree on the left, an exchangeable view on the right) and
// the image frame, with the interfaces of the image view and the interior
// orientation dialog that the image frame and the hub use.
#pragma once

#include "Dialog.h"
#include "DocFramework.h"

#include <functional>
#include <typeinfo>

class CCamera;
class CKestrelonView;
class CProjectImage;
class QSplitter;

// What the shell needs of an image view.
class CImageViewBase : public CView {
public:
    // The image record shown, or null.
    virtual CProjectImage* GetImageRecord() const = 0;
    // True while the view is one of the relative orientation pair.
    virtual bool InRelativeOrientation() const { return false; }
    // Invalidates the picture without erasing it.
    virtual void Redraw() = 0;
    // False refuses closing the frame.
    virtual bool QueryClose() { return true; }
    // Interior orientation measurement ended: own list emptied, fiducial mode
    // off, automatic measurement on, digitize mode.
    virtual void EndInteriorOrientation() {}
};

// The modeless "Interior Orientation Results" dialog of an image frame.
class CInteriorOrientationDlgBase : public CDialog {
public:
    using CDialog::CDialog;
    // Creates the window for the image and camera; false when that fails.
    virtual bool CreateModeless(CProjectImage* image, CCamera* camera) = 0;
};

class CProjectFrame : public CMDIChildWnd {
public:
    CProjectFrame();

    void PreCreateWindow(QMdiArea* area, int openDocuments) override;
    bool OnCreateClient(CCreateContext& context) override;
    // Closing the project frame closes the project with all its windows.
    bool OnClose() override;
    // The cascaded rectangle on the main window's client area as it is now.
    QRect DefaultNormalRect() const override;

    CKestrelonView* GetTreeView() const;
    CView* GetRightPane() const;
    // Puts a view of the type into the pane (callers use 0, 1); false when
    // the pane already shows that type.
    bool SwitchRightView(int row, int column, const std::type_info& type,
                         const std::function<CView*(QWidget*)>& make);
    template <class T>
    bool SwitchRightView(int row = 0, int column = 1)
    {
        return SwitchRightView(row, column, typeid(T), [](QWidget* parent) -> CView* { return new T(parent); });
    }
    // Every other project frame redraws after a change of the databases.
    void UpdateOtherProjectFrames();
    void RefreshCamerasList();
    // After records were deleted, before anything can paint: the tree drops
    // its selections of records that are gone, the right pane refills from
    // the collections (a 3D view whose set is gone reads the document anew).
    void ReleaseRemovedRecords();

    QSplitter* GetSplitter() const { return splitter; }

private:
    QSplitter* splitter = nullptr;
    int cascade = 1; // open documents when the frame was made
};

class CChildFrame : public CMDIChildWnd {
public:
    using InteriorOrientationFactory = std::function<CInteriorOrientationDlgBase*(CChildFrame* owner)>;
    // The factory that makes the frame's dialog; installed by the image tools.
    static InteriorOrientationFactory SetInteriorOrientationFactory(InteriorOrientationFactory factory);

    CChildFrame();
    ~CChildFrame() override;

    void PreCreateWindow(QMdiArea* area, int openDocuments) override;
    QRect DefaultNormalRect() const override;

    bool OnClose() override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // The dialog with its window, created on demand; null when creation fails.
    CInteriorOrientationDlgBase* GetInteriorOrientationDlg(CProjectImage* image, CCamera* camera);

private:
    CInteriorOrientationDlgBase* interiorOrientationDlg = nullptr;
    QPoint cascade;
};

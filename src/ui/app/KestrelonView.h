// The views of the project frame's two panes: the project tree on the left,
// a list of the database cameras as the first right-hand view.
#pragma once

#include "DocFramework.h"

#include <QTreeWidget>

class CKestrelonDoc;

// The project tree: the project item and its images and point sets.
class CKestrelonView : public QTreeWidget, public CView {
public:
    explicit CKestrelonView(QWidget* parent = nullptr);
    QWidget* GetWidget() override { return this; }
    CKestrelonDoc* GetDocument() const;
    void OnUpdate(CView* sender, long hint) override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
};

// The camera database of the application.
class CDBaseCamerasListView : public QTreeWidget, public CView {
public:
    explicit CDBaseCamerasListView(QWidget* parent = nullptr);
    QWidget* GetWidget() override { return this; }
    void OnUpdate(CView* sender, long hint) override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
};

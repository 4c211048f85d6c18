// The project document: the data model's project with the framework's
// document life: open, save, save as, the modified marker in the title.
#pragma once

#include "DocFramework.h"
#include "ProjectDocument.h"

#include <cstdint>

class CKestrelonDoc : public CProjectDocument, public CDocument {
public:
    CKestrelonDoc();

    QString GetDocumentPath() const override;
    void SetDocumentPath(const QString& path) override;
    bool IsModified() const override { return CProjectDocument::IsModified(); }
    // The title carries a trailing "*" while the project is modified.
    void SetModifiedFlag(bool modified = true) override;

    bool OnNewDocument() override;
    bool OnOpenDocument(const QString& path) override;
    bool OnSaveDocument(const QString& path) override;
    // Saves to the current path, or asks for one when there is none.
    bool SaveProject();

    void UpdateAllViews() override { CDocument::UpdateAllViews(nullptr, 0); }
    using CDocument::UpdateAllViews;

    // Set by every save of this run.
    uint8_t savedInThisRun = 0;
    // Cleared when the project file reader changed data while loading.
    uint8_t loadedUnchanged = 1;
};

// The project document of the main frame's active child, or null.
CKestrelonDoc* GetActiveKestrelonDoc();

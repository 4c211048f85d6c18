// Documents, views, child frames, templates and the document manager.
// A template makes a document, a frame and a view by factories; the manager
// keeps the open documents, names new ones ("Project 1", ...) and activates a
// file that is already open instead of opening it twice.
#pragma once

#include "CmdTarget.h"
#include "MessageHub.h"

#include <QMdiSubWindow>
#include <QRect>
#include <QString>

#include <functional>
#include <vector>

class CDocTemplate;
class CDocument;
class CMDIChildWnd;
class QMdiArea;

// A window showing a document; a mixin of the view's widget class.
class CView : public CCmdTarget, public CMessageTarget {
public:
    ~CView() override;

    virtual QWidget* GetWidget() = 0;
    CDocument* GetDocument() const { return document; }
    CMDIChildWnd* GetParentFrame() const;

    virtual void OnInitialUpdate() { OnUpdate(nullptr, 0); }
    virtual void OnUpdate(CView* sender, long hint);
    // The view's frame has become the active window of the MDI area.
    virtual void OnActivateView() {}

private:
    friend class CDocument;
    CDocument* document = nullptr;
};

// What a frame needs to make its views.
struct CCreateContext {
    CDocument* document = nullptr;
    CDocTemplate* docTemplate = nullptr;
    std::function<CView*(QWidget* parent)> newView;
};

class CDocument : public CCmdTarget {
public:
    CDocument();
    ~CDocument() override;

    const QString& GetTitle() const { return title; }
    virtual void SetTitle(const QString& text);
    CDocTemplate* GetDocTemplate() const { return docTemplate; }

    // The document's file ("" when it has none).
    virtual QString GetDocumentPath() const = 0;
    virtual void SetDocumentPath(const QString& path) = 0;
    virtual bool IsModified() const = 0;
    virtual void SetModifiedFlag(bool modified = true) = 0;

    virtual bool OnNewDocument() = 0;
    // False: nothing was opened.
    virtual bool OnOpenDocument(const QString& path) = 0;
    virtual bool OnSaveDocument(const QString& path) = 0;
    // Asks for a name when path is empty; replace: the document takes the new name.
    virtual bool DoSave(const QString& path, bool replace);
    // The save question of a modified document; false for Cancel or a failed save.
    virtual bool SaveModified();
    // Closes every frame of the document and then the document itself.
    virtual void OnCloseDocument();

    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& GetViews() const { return views; }
    std::vector<CMDIChildWnd*> GetFrames() const;
    virtual void UpdateAllViews(CView* sender, long hint = 0);

    // Removing the last view closes the document.
    bool m_bAutoDelete = true;

protected:
    void OnFileSave();
    void OnFileSaveAs();
    void OnFileClose();

private:
    friend class CDocTemplate;
    QString title;
    CDocTemplate* docTemplate = nullptr;
    std::vector<CView*> views;
    bool closing = false;
};

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget, public CMessageTarget {
public:
    CMDIChildWnd();
    ~CMDIChildWnd() override;

    // Geometry and flags before the frame is shown; openDocuments counts the
    // new document.
    virtual void PreCreateWindow(QMdiArea* area, int openDocuments) { (void)area, (void)openDocuments; }
    // Makes the frame's views; false fails the frame's creation.
    virtual bool OnCreateClient(CCreateContext& context);

    CView* GetActiveView() const;
    void SetActiveView(CView* view) { activeView = view; }
    CDocument* GetActiveDocument() const;
    // The rectangle the frame was created with (its normal geometry).
    QRect GetCreateRect() const { return createRect; }

    // Offers the id to the active view, the document and this frame.
    bool RouteCmdMsg(int id, CCmdUI* ui);

    // Asks before closing; false keeps the frame open.
    virtual bool OnClose();

    // The normal geometry a frame that was never shown normal takes when it
    // is restored from maximised: by default its creation rectangle.
    virtual QRect DefaultNormalRect() const { return createRect; }

    // The frame's caption follows its document's title; a frame whose view
    // sets its own caption clears it.
    bool m_bAddToTitle = true;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    QRect createRect;
    bool maximizeOnShow = false;
    // Set once the frame has been shown normal: Qt then restores its last normal geometry.
    bool hadNormalGeometry = false;

private:
    CView* activeView = nullptr;
    CDocument* document = nullptr;
    friend class CDocTemplate;
};

class CDocTemplate {
public:
    using DocumentFactory = std::function<CDocument*()>;
    using FrameFactory = std::function<CMDIChildWnd*()>;
    using ViewFactory = std::function<CView*(QWidget* parent)>;

    // docString: "\nProject \nProject \nfilter\n.ext\ntype\ntype name".
    CDocTemplate(int resourceId, const char* docString, DocumentFactory newDocument, FrameFactory newFrame,
                 ViewFactory newView);

    enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };
    QString GetDocString(DocStringIndex index) const;
    int GetResourceId() const { return resourceId; }
    void SetViewFactory(ViewFactory factory) { newView = std::move(factory); }
    // The menu the main frame shows while a frame of this template is active.
    void SetMenu(const MenuEntry* table, int count) { menu = table, menuCount = count; }
    const MenuEntry* GetMenu(int& count) const { return count = menuCount, menu; }

    CDocument* CreateNewDocument();
    // A new frame of the document in the main frame's MDI area; null when it fails.
    CMDIChildWnd* CreateNewFrame(CDocument* document);
    void InitialUpdateFrame(CMDIChildWnd* frame, CDocument* document);
    // Empty path: a new document. Null when it fails (nothing stays open).
    CDocument* OpenDocumentFile(const QString& path);

    const std::vector<CDocument*>& GetDocuments() const { return documents; }
    void RemoveDocument(CDocument* document);

private:
    int resourceId;
    QStringList docStrings;
    DocumentFactory newDocument;
    FrameFactory newFrame;
    ViewFactory newView;
    const MenuEntry* menu = nullptr;
    int menuCount = 0;
    int untitledCount = 0;
    std::vector<CDocument*> documents;
};

class CDocManager {
public:
    ~CDocManager();
    // Registers and owns the template.
    void AddDocTemplate(CDocTemplate* docTemplate);
    CDocTemplate* GetFirstTemplate() const { return templates.empty() ? nullptr : templates.front(); }

    void OnFileNew();
    // A file already open is activated; null when the open failed.
    CDocument* OpenDocumentFile(const QString& path);
    CDocument* FindOpenDocument(const QString& path) const;
    int GetOpenDocumentCount() const;
    std::vector<CDocument*> GetDocuments() const;
    // The save question for every modified document; false when one was cancelled.
    bool SaveAllModified();
    void CloseAllDocuments();

private:
    std::vector<CDocTemplate*> templates;
};

// The MDI area of the main window; set by the main frame.
QMdiArea* AfxGetMdiArea();
void AfxSetMdiArea(QMdiArea* area);
// True while the document exists.
bool IsLiveDocument(const CDocument* document);
// Open documents of every template (registered or not), for the frame cascade.
int AfxGetOpenDocumentCount();

// Property sheets: a dialog with one tab per page and OK and Cancel. A page
// is initialised when it is first shown; its values are taken from its
// controls when it is left and when OK is pressed, and a failed check keeps
// the sheet open on that page.
#pragma once

#include "Dialog.h"

#include <vector>

class CPropertySheet;
class QTabWidget;

class CPropertyPage : public CDialog {
public:
    // The page's object name is "id" + the resource id; the caption is its tab's text.
    CPropertyPage(int resourceId, const QString& caption);

    const QString& GetCaption() const { return caption; }
    bool IsInitialised() const { return initialised; }
    CPropertySheet* GetSheet() const { return sheet; }

    // The page is about to show: the first time it runs OnInitDialog.
    virtual bool OnSetActive();
    // The page is left: false (with the check's message) keeps it.
    virtual bool OnKillActive() { return UpdateData(true); }

    // Return and Escape inside a page act on the sheet.
    void OnOK() override;
    void OnCancel() override;

private:
    friend class CPropertySheet;
    QString caption;
    bool initialised = false;
    CPropertySheet* sheet = nullptr;
};

class CPropertySheet : public CDialog {
public:
    CPropertySheet(const QString& caption, QWidget* parent = nullptr, int startPage = 0);

    // The sheet takes the page (made with new) as a child of its tabs.
    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return int(pages.size()); }
    CPropertyPage* GetPage(int index) const;
    int GetActiveIndex() const;
    CPropertyPage* GetActivePage() const { return GetPage(GetActiveIndex()); }
    // Leaves the active page (false when its check fails) and shows the page.
    bool SetActivePage(int index);
    QTabWidget* GetTabControl() const { return tabs; }

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    void OnTabChanged(int index);

    QTabWidget* tabs;
    std::vector<CPropertyPage*> pages;
    int startPage;
    int shown = -1;
};

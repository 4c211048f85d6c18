#include "PropertySheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

CPropertyPage::CPropertyPage(int resourceId, const QString& text) : CDialog(resourceId), caption(text)
{
}

bool CPropertyPage::OnSetActive()
{
    if (!initialised) {
        initialised = true;
        return OnInitDialog();
    }
    return true;
}

void CPropertyPage::OnOK()
{
    if (sheet)
        sheet->OnOK();
}

void CPropertyPage::OnCancel()
{
    if (sheet)
        sheet->OnCancel();
}

CPropertySheet::CPropertySheet(const QString& caption, QWidget* parent, int start)
    : CDialog(0, parent), tabs(new QTabWidget), startPage(start)
{
    setWindowTitle(caption);
    tabs->setObjectName(QStringLiteral("sheetTabs"));
    // Every tab shows its whole caption: the sheet is as wide as its tabs.
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("id1"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("id2"));
    QObject::connect(box, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    QObject::connect(box, &QDialogButtonBox::rejected, this, [this] { OnCancel(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(box);
    QObject::connect(tabs, &QTabWidget::currentChanged, this, [this](int index) { OnTabChanged(index); });
}

void CPropertySheet::AddPage(CPropertyPage* page)
{
    page->sheet = this;
    pages.push_back(page);
    const QSignalBlocker blocker(tabs);
    tabs->addTab(page, page->GetCaption());
}

CPropertyPage* CPropertySheet::GetPage(int index) const
{
    return index >= 0 && index < GetPageCount() ? pages[index] : nullptr;
}

int CPropertySheet::GetActiveIndex() const
{
    return shown;
}

bool CPropertySheet::SetActivePage(int index)
{
    if (!GetPage(index))
        return false;
    if (index == shown)
        return true;
    tabs->setCurrentIndex(index);
    return shown == index;
}

void CPropertySheet::OnTabChanged(int index)
{
    CPropertyPage* leaving = GetPage(shown);
    if (leaving && !leaving->OnKillActive()) {
        // The check failed: back to that page, its field keeps the focus.
        QWidget* focus = leaving->focusWidget();
        {
            const QSignalBlocker blocker(tabs);
            tabs->setCurrentIndex(shown);
        }
        if (focus)
            focus->setFocus();
        return;
    }
    shown = index;
    if (CPropertyPage* page = GetPage(index))
        page->OnSetActive();
}

bool CPropertySheet::OnInitDialog()
{
    const int first = GetPage(startPage) ? startPage : 0;
    {
        const QSignalBlocker blocker(tabs);
        tabs->setCurrentIndex(first);
    }
    shown = -1;
    OnTabChanged(first);
    return true;
}

void CPropertySheet::OnOK()
{
    CPropertyPage* page = GetActivePage();
    if (page && !page->OnKillActive())
        return;
    done(QDialog::Accepted);
}

void CPropertySheet::OnCancel()
{
    done(QDialog::Rejected);
}

// Dialogs: controls found by id (object name "id" + the number) and the data
// exchange between controls and members. Numbers are read and written in the
// C locale. A failed exchange shows its message, focuses the field and
// leaves every member as it was.
#pragma once

#include "CmdTarget.h"
#include "MessageHub.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class CDynString;
class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, bool save) : m_bSaveAndValidate(save), m_pDlgWnd(dialog) {}

    // The control of the id, remembered as the one a failure focuses.
    QWidget* PrepareCtrl(int id);
    // Shows the message and ends the exchange as failed.
    void Fail(const QString& message);
    // Records how to put the member back when the exchange fails.
    void Keep(const void* member, std::function<void()> restore);
    bool Failed() const { return failed; }
    // Puts back every member stored so far (newest first). With the address
    // of a local of the function that ran the exchange, members on the stack
    // below it (locals of returned functions) are left alone.
    void RollBack(const void* frame = nullptr);

    const bool m_bSaveAndValidate;
    CDialog* const m_pDlgWnd;

private:
    QWidget* lastControl = nullptr;
    bool failed = false;
    std::vector<std::pair<std::uintptr_t, std::function<void()>>> restores;
};

void DDX_Text(CDataExchange* dx, int id, int& value);
// 0 to INT_MAX; a negative count is refused.
void DDX_Text(CDataExchange* dx, int id, unsigned& value);
void DDX_Text(CDataExchange* dx, int id, double& value);
void DDX_Text(CDataExchange* dx, int id, QString& value);
void DDX_Text(CDataExchange* dx, int id, CDynString& value);
// Check box state: 0, 1 (2 for a tristate box's middle state).
void DDX_Check(CDataExchange* dx, int id, int& value);
// Index of the checked button of the radio group whose ids run on from
// firstId, -1 for none.
void DDX_Radio(CDataExchange* dx, int firstId, int& value);
// Index of the combo box's selection, -1 for none.
void DDX_CBIndex(CDataExchange* dx, int id, int& value);
void DDV_MinMaxInt(CDataExchange* dx, int value, int minimum, int maximum);
void DDV_MinMaxDouble(CDataExchange* dx, double value, double minimum, double maximum);
void DDV_MaxChars(CDataExchange* dx, const QString& value, int count);

// A number in the C locale's notation, the whole text but for surrounding
// blanks (no digit grouping, no decimal comma, nothing after it); false and
// the value untouched otherwise.
bool ReadCInt(const QString& text, int& value);
bool ReadCDouble(const QString& text, double& value);
// A number typed outside a dialog's exchange (a list cell), read as the
// dialogs' number fields are; when it is none, their message says so.
bool ReadNumberField(const QString& text, double& value);

// Text of a control (edit, label, button, combo box, plain text edit).
QString GetWindowText(const QWidget* control);
void SetWindowText(QWidget* control, const QString& text);

// Answers modal dialogs in place of their event loop (tests): called after
// OnInitDialog, returns the dialog's result, or -1 to run the dialog.
using ModalDialogHook = std::function<int(CDialog& dialog)>;
ModalDialogHook SetModalDialogHook(ModalDialogHook hook);

class CDialog : public QDialog, public CCmdTarget, public CMessageTarget {
public:
    // The dialog's object name is "id" + the resource id.
    explicit CDialog(int resourceId, QWidget* parent = nullptr);

    int GetResourceId() const { return resourceId; }
    QWidget* GetDlgItem(int id) const;
    template <class T>
    T* Item(int id) const
    {
        return dynamic_cast<T*>(GetDlgItem(id));
    }

    // save true: controls to members (false and nothing stored on a failed
    // check); save false: members to controls.
    bool UpdateData(bool save = true);
    virtual void DoDataExchange(CDataExchange* dx) { (void)dx; }

    // Runs OnInitDialog, then the dialog modally; QDialog::Accepted or Rejected.
    int DoModal();
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Ends the dialog with the code.
    void EndDialog(int result) { done(result); }

protected:
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

private:
    int resourceId;
};

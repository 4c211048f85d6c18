#include "Dialog.h"

#include "DynString.h"
#include "Hooks.h"
#include "Message.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>

#include <pthread.h>

#include <climits>
#include <cmath>
#include <cstdint>

QWidget* CDataExchange::PrepareCtrl(int id)
{
    lastControl = m_pDlgWnd->GetDlgItem(id);
    return lastControl;
}

void CDataExchange::Fail(const QString& message)
{
    if (failed)
        return;
    failed = true;
    AfxMessageBox(ToCp1252(message).c_str(), MB_OK | MB_ICONEXCLAMATION);
    if (lastControl) {
        lastControl->setFocus();
        if (auto* edit = dynamic_cast<QLineEdit*>(lastControl))
            edit->selectAll();
    }
}

namespace {

// The lowest address of the calling thread's stack; 0 when unknown.
std::uintptr_t StackLow()
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return 0;
    void* base = nullptr;
    std::size_t size = 0;
    const bool ok = pthread_attr_getstack(&attr, &base, &size) == 0;
    pthread_attr_destroy(&attr);
    return ok ? std::uintptr_t(base) : 0;
}

} // namespace

void CDataExchange::Keep(const void* member, std::function<void()> restore)
{
    restores.push_back({std::uintptr_t(member), std::move(restore)});
}

void CDataExchange::RollBack(const void* frame)
{
    // A member below the frame of the caller lived in a function of the
    // exchange that has returned: there is nothing left to put back.
    const std::uintptr_t low = frame ? StackLow() : 0;
    const std::uintptr_t top = std::uintptr_t(frame);
    for (auto it = restores.rbegin(); it != restores.rend(); ++it)
        if (!(low != 0 && it->first >= low && it->first < top))
            it->second();
    restores.clear();
}

namespace {

// The C locale's notation and nothing else: no digit grouping.
QLocale StrictC()
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator | QLocale::OmitGroupSeparator);
    return c;
}

} // namespace

bool ReadCInt(const QString& text, int& value)
{
    bool ok = false;
    const int parsed = StrictC().toInt(text.trimmed(), &ok);
    if (!ok)
        return false;
    value = parsed;
    return true;
}

bool ReadCDouble(const QString& text, double& value)
{
    bool ok = false;
    const double parsed = StrictC().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

namespace {

const char kNotANumber[] = "Please enter a number.";

} // namespace

bool ReadNumberField(const QString& text, double& value)
{
    if (ReadCDouble(text, value))
        return true;
    AfxMessageBox(kNotANumber, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

QString GetWindowText(const QWidget* c)
{
    if (auto* e = dynamic_cast<const QLineEdit*>(c))
        return e->text();
    if (auto* l = dynamic_cast<const QLabel*>(c))
        return l->text();
    if (auto* b = dynamic_cast<const QAbstractButton*>(c))
        return b->text();
    if (auto* cb = dynamic_cast<const QComboBox*>(c))
        return cb->currentText();
    if (auto* t = dynamic_cast<const QPlainTextEdit*>(c))
        return t->toPlainText();
    return c ? c->windowTitle() : QString();
}

void SetWindowText(QWidget* c, const QString& text)
{
    if (auto* e = dynamic_cast<QLineEdit*>(c))
        e->setText(text);
    else if (auto* l = dynamic_cast<QLabel*>(c))
        l->setText(text);
    else if (auto* b = dynamic_cast<QAbstractButton*>(c))
        b->setText(text);
    else if (auto* cb = dynamic_cast<QComboBox*>(c))
        cb->setCurrentText(text);
    else if (auto* t = dynamic_cast<QPlainTextEdit*>(c))
        t->setPlainText(text);
    else if (c)
        c->setWindowTitle(text);
}

namespace {

// Stores the value into the member, keeping the old one for a roll-back.
template <class T>
void Store(CDataExchange* dx, T& member, const T& value)
{
    T old = member;
    T* where = &member;
    dx->Keep(where, [where, old] { *where = old; });
    member = value;
}

// The control's text for a data exchange, or null when the exchange already failed.
QWidget* Control(CDataExchange* dx, int id)
{
    if (dx->Failed())
        return nullptr;
    return dx->PrepareCtrl(id);
}

} // namespace

namespace {

// A whole number of at least `lowest`, else the message.
template <class T>
void ExchangeInteger(CDataExchange* dx, int id, T& value, int lowest, const char* message)
{
    QWidget* c = Control(dx, id);
    if (!c)
        return;
    if (!dx->m_bSaveAndValidate) {
        SetWindowText(c, QString::number(value));
        return;
    }
    int parsed = 0;
    if (!ReadCInt(GetWindowText(c), parsed) || parsed < lowest)
        return dx->Fail(QString::fromLatin1(message));
    Store(dx, value, T(parsed));
}

} // namespace

void DDX_Text(CDataExchange* dx, int id, int& value)
{
    ExchangeInteger(dx, id, value, INT_MIN, "Please enter an integer.");
}

void DDX_Text(CDataExchange* dx, int id, unsigned& value)
{
    ExchangeInteger(dx, id, value, 0, "Please enter a positive integer.");
}

void DDX_Text(CDataExchange* dx, int id, double& value)
{
    QWidget* c = Control(dx, id);
    if (!c)
        return;
    if (!dx->m_bSaveAndValidate) {
        SetWindowText(c, QString::number(value, 'g', 15));
        return;
    }
    double parsed = 0.0;
    if (!ReadCDouble(GetWindowText(c), parsed))
        return dx->Fail(QString::fromLatin1(kNotANumber));
    Store(dx, value, parsed);
}

void DDX_Text(CDataExchange* dx, int id, QString& value)
{
    QWidget* c = Control(dx, id);
    if (!c)
        return;
    if (!dx->m_bSaveAndValidate)
        SetWindowText(c, value);
    else
        Store(dx, value, GetWindowText(c));
}

void DDX_Text(CDataExchange* dx, int id, CDynString& value)
{
    QWidget* c = Control(dx, id);
    if (!c)
        return;
    if (!dx->m_bSaveAndValidate) {
        SetWindowText(c, FromCp1252(value.GetText()));
        return;
    }
    Store(dx, value, CDynString(ToCp1252(GetWindowText(c)).c_str()));
}

void DDX_Check(CDataExchange* dx, int id, int& value)
{
    QWidget* c = Control(dx, id);
    auto* b = dynamic_cast<QAbstractButton*>(c);
    if (!b)
        return;
    auto* box = dynamic_cast<QCheckBox*>(b);
    if (!dx->m_bSaveAndValidate) {
        if (box)
            box->setCheckState(value == 2 ? Qt::PartiallyChecked : value ? Qt::Checked : Qt::Unchecked);
        else
            b->setChecked(value != 0);
        return;
    }
    const int state = box ? (box->checkState() == Qt::PartiallyChecked ? 2 : box->isChecked() ? 1 : 0)
                          : (b->isChecked() ? 1 : 0);
    Store(dx, value, state);
}

void DDX_CBIndex(CDataExchange* dx, int id, int& value)
{
    auto* cb = dynamic_cast<QComboBox*>(Control(dx, id));
    if (!cb)
        return;
    if (!dx->m_bSaveAndValidate)
        cb->setCurrentIndex(value);
    else
        Store(dx, value, cb->currentIndex());
}

void DDX_Radio(CDataExchange* dx, int firstId, int& value)
{
    if (!Control(dx, firstId))
        return;
    std::vector<QAbstractButton*> group;
    for (int id = firstId;; ++id) {
        auto* button = dynamic_cast<QAbstractButton*>(dx->m_pDlgWnd->GetDlgItem(id));
        if (!button)
            break;
        group.push_back(button);
    }
    if (!dx->m_bSaveAndValidate) {
        for (int i = 0; i < int(group.size()); ++i) {
            group[i]->setAutoExclusive(false);
            group[i]->setChecked(i == value);
            group[i]->setAutoExclusive(true);
        }
        return;
    }
    int checked = -1;
    for (int i = 0; i < int(group.size()); ++i)
        if (group[i]->isChecked())
            checked = i;
    Store(dx, value, checked);
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int minimum, int maximum)
{
    if (!dx->m_bSaveAndValidate || dx->Failed())
        return;
    if (value < minimum || value > maximum)
        dx->Fail(QStringLiteral("Please enter an integer between %1 and %2.").arg(minimum).arg(maximum));
}

void DDV_MinMaxDouble(CDataExchange* dx, double value, double minimum, double maximum)
{
    if (!dx->m_bSaveAndValidate || dx->Failed())
        return;
    if (!(value >= minimum && value <= maximum))
        dx->Fail(QStringLiteral("Please enter a number between %1 and %2.")
                     .arg(QString::number(minimum, 'g', 15), QString::number(maximum, 'g', 15)));
}

void DDV_MaxChars(CDataExchange* dx, const QString& value, int count)
{
    if (!dx->m_bSaveAndValidate || dx->Failed())
        return;
    if (value.size() > count)
        dx->Fail(QStringLiteral("Enter no more than %1 characters.").arg(count));
}

CDialog::CDialog(int id, QWidget* parent) : QDialog(parent), resourceId(id)
{
    setObjectName(IdName(id));
}

QWidget* CDialog::GetDlgItem(int id) const
{
    return findChild<QWidget*>(IdName(id));
}

bool CDialog::UpdateData(bool save)
{
    CDataExchange dx(this, save);
    DoDataExchange(&dx);
    if (dx.Failed()) {
        dx.RollBack(&dx);
        return false;
    }
    return true;
}

namespace {
ModalDialogHook& ModalHook()
{
    static ModalDialogHook hook;
    return hook;
}
} // namespace

ModalDialogHook SetModalDialogHook(ModalDialogHook hook)
{
    ModalDialogHook old = std::move(ModalHook());
    ModalHook() = std::move(hook);
    return old;
}

int CDialog::DoModal()
{
    if (!OnInitDialog())
        return QDialog::Rejected;
    if (ModalHook()) {
        const int answer = ModalHook()(*this);
        if (answer >= 0)
            return answer;
    }
    return exec();
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        QDialog::done(QDialog::Accepted);
}

void CDialog::OnCancel()
{
    QDialog::done(QDialog::Rejected);
}

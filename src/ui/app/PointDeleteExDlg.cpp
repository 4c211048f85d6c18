#include "PointDeleteExDlg.h"

#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "ObjectPointArray.h"
#include "PointSet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>
#include <vector>

bool RewritePointSetFile(const CPointSet& set, bool viaSave)
{
    if (set.name.GetLength() == 0)
        return true;
    const bool written = viaSave ? set.Save(12, 13, 7) : set.WriteXyzFile(set.name.GetText(), 12, 13, 7);
    if (!written)
        AfxMessageBox(("The point file " + std::string(set.name.GetText()) +
                       " could not be written; the change is kept in the project.")
                          .c_str(),
                      MB_OK | MB_ICONWARNING);
    return written;
}

CPointDeleteExDlg::CPointDeleteExDlg(const CObjectPointArray* points, CPointSet* pointSet, QWidget* parent)
    : CDialog(375, parent), points(points), pointSet(pointSet)
{
    setWindowTitle(QStringLiteral("Delete Point(s)"));
    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(QStringLiteral("Do you really want to delete points .... ?"));
    message->setObjectName(IdName(kMessage));
    layout->addWidget(message);
    auto* box = new QCheckBox(QStringLiteral("Delete referenced observations as well"));
    box->setObjectName(IdName(kObservations));
    layout->addWidget(box);
    auto* buttons = new QHBoxLayout;
    const struct {
        const char* text;
        int id;
    } kButtons[] = {{"Yes", IDOK}, {"No", kNo}, {"Cancel", IDCANCEL}};
    for (const auto& b : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(b.text));
        button->setObjectName(IdName(b.id));
        buttons->addWidget(button);
        const int id = b.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] {
            if (id == IDOK)
                OnOK();
            else if (id == kNo)
                OnNo();
            else
                OnCancel();
        });
    }
    layout->addLayout(buttons);
    Item<QPushButton>(IDOK)->setDefault(true);
}

QString CPointDeleteExDlg::MessageText(const CObjectPointArray& list)
{
    std::string labels;
    for (int i = 0; i < list.GetSize(); ++i) {
        if (i > 0)
            labels += ", ";
        if (i == 3) {
            labels += "...";
            break;
        }
        labels += list.GetAt(i)->label.GetText();
    }
    const std::string text = list.GetSize() < 2 ? "Do you really want to delete the point " + labels + " ?"
                                                : "Do you really want to delete points " + labels + " ?";
    return FromCp1252(text);
}

bool CPointDeleteExDlg::OnInitDialog()
{
    if (!CDialog::OnInitDialog())
        return false;
    if (points)
        Item<QLabel>(kMessage)->setText(MessageText(*points));
    Item<QCheckBox>(kObservations)->setChecked(pointSet && (pointSet->isDriver || pointSet->isControl));
    return true;
}

void CPointDeleteExDlg::OnOK()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    const bool observations = Item<QCheckBox>(kObservations)->isChecked();
    const int last = doc ? doc->images.GetSize() - 1 : -1;
    // The labels first: the records go with the first removal.
    std::vector<CNameBuffer> labels;
    for (int i = 0; points && i < points->GetSize(); ++i)
        labels.push_back(points->GetAt(i)->label);
    for (const CNameBuffer& label : labels) {
        if (pointSet)
            pointSet->RemovePoint(label);
        if (!observations || last < 0)
            continue;
        for (int n = 0; n <= last; ++n) {
            CImageObservation* o = doc->images.GetAt(n)->FindObservation(label);
            if (!o)
                continue;
            o->disabled = true;
            const std::string marked = std::string("-") + o->label.GetText();
            o->label = marked.c_str(); // a 17-character text is refused: the label stays
        }
    }
    for (int n = 0; n <= last; ++n)
        doc->images.GetAt(n)->targets.SortByLabel();
    if (doc)
        doc->SetModifiedFlag(true);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    if (pointSet)
        RewritePointSetFile(*pointSet);
    EndDialog(QDialog::Accepted);
}

#include "PointStatusDlg.h"

#include "Hooks.h"
#include "KestrelonDoc.h"
#include "OkCancelButtons.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

CPointStatusDlg::CPointStatusDlg(QWidget* parent)
    : CDialog(313, parent), m_ImageList(new QListWidget), m_LabelCombo(new QComboBox)
{
    setWindowTitle(QStringLiteral("Point Status"));
    m_ImageList->setObjectName(IdName(1379));
    m_LabelCombo->setObjectName(IdName(1394));
    auto* box = NewOkCancelButtons(this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Point Label")), 0, 0);
    grid->addWidget(m_LabelCombo, 1, 0, Qt::AlignTop);
    grid->addWidget(new QLabel(QStringLiteral("Measured on these images")), 0, 1);
    grid->addWidget(m_ImageList, 1, 1);
    grid->addWidget(box, 2, 0, 1, 2);
    QObject::connect(m_LabelCombo, &QComboBox::currentIndexChanged, this, [this] { OnSelChangeLabel(); });
}

CPointStatusDlg::~CPointStatusDlg() = default;

bool CPointStatusDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    const QSignalBlocker blocker(m_LabelCombo);
    m_LabelCombo->clear();
    BuildPointTable();
    for (int i = 0; i < m_pTable->GetSize(); ++i)
        m_LabelCombo->addItem(FromCp1252(m_pTable->GetAt(i)->label.GetText()));
    // No label is chosen yet.
    m_LabelCombo->setCurrentIndex(-1);
    return true;
}

void CPointStatusDlg::BuildPointTable()
{
    if (!m_pTable)
        m_pTable = std::make_unique<CPointSet>();
    else
        m_pTable->RemoveAll();
    if (!m_pImages)
        return;
    const int imageCount = m_pImages->GetSize();
    auto newEntry = [&](int at, int image, int observation) {
        CObjectPoint* p = m_pTable->GetAt(at);
        p->observationIndex.Reset(imageCount);
        p->observationIndex[image] = observation;
        p->rayCount = p->usedRayCount = 1;
    };

    int reference = -1;
    int most = 0;
    for (int i = 0; i < imageCount; ++i) {
        const CProjectImage* image = m_pImages->GetAt(i);
        const int count = image ? image->GetEnabledObservationCount() : 0;
        if (count > most) {
            most = count;
            reference = i;
        }
    }
    if (reference >= 0) {
        const CObservationList& targets = m_pImages->GetAt(reference)->targets;
        for (int j = 0; j < targets.GetSize(); ++j) {
            const CImageObservation* o = targets.GetAt(j);
            if (!o || o->disabled)
                continue;
            m_pTable->AddNew()->label = o->label;
            newEntry(m_pTable->GetSize() - 1, reference, j);
        }
    }
    for (int i = 0; i < imageCount; ++i) {
        const CProjectImage* image = m_pImages->GetAt(i);
        if (i == reference || !image)
            continue;
        for (int j = 0; j < image->targets.GetSize(); ++j) {
            const CImageObservation* o = image->targets.GetAt(j);
            if (!o || o->disabled)
                continue;
            const int at = m_pTable->IndexOfLabel(o->label);
            if (at < 0) {
                newEntry(m_pTable->AddNewPointSorted(o->label), i, j);
                continue;
            }
            CObjectPoint* p = m_pTable->GetAt(at);
            p->observationIndex[i] = j;
            ++p->rayCount;
            ++p->usedRayCount;
        }
    }
    for (int k = m_pTable->GetSize() - 1; k >= 0; --k)
        if (m_pTable->GetAt(k)->rayCount < 1)
            m_pTable->RemoveAt(k, 1);
}

void CPointStatusDlg::OnSelChangeLabel()
{
    const int selected = m_LabelCombo->currentIndex();
    if (!m_pTable || selected < 0 || selected >= m_pTable->GetSize())
        return;
    m_ImageList->clear();
    const CObjectPoint* p = m_pTable->GetAt(selected);
    for (const CRayIndex::Entry& e : p->observationIndex)
        if (const CProjectImage* image = m_pImages ? m_pImages->GetAt(e.image) : nullptr)
            m_ImageList->addItem(FromCp1252(image->name.GetText()));
}

void CKestrelonDoc::OnPointStatus()
{
    CPointStatusDlg dialog(nullptr);
    dialog.SetImageList(&images);
    dialog.DoModal();
}

#include "FiducialDialogs.h"

#include "Camera.h"
#include "CameraDialogs.h"
#include "Controls.h"
#include "Hooks.h"
#include "ImageTransform.h"
#include "Message.h"
#include "ProjectImage.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

// Captions over pairs of a table's columns: each one spans its two columns,
// following their widths and the table's scrolling.
class CColumnCaptions : public QWidget {
public:
    CColumnCaptions(QTableView* table, const QStringList& texts, int firstColumn) : m_pTable(table), m_nFirst(firstColumn)
    {
        for (const QString& text : texts) {
            auto* label = new QLabel(text, this);
            label->setAlignment(Qt::AlignCenter);
            m_Labels.push_back(label);
        }
        QHeaderView* header = table->horizontalHeader();
        connect(header, &QHeaderView::sectionResized, this, [this] { Place(); });
        connect(header, &QHeaderView::geometriesChanged, this, [this] { Place(); });
        connect(table->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { Place(); });
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        int height = 0;
        for (const QLabel* label : m_Labels)
            height = std::max(height, label->sizeHint().height());
        return QSize(0, height);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Widens the columns of a caption that is wider than they are.
    void WidenColumns()
    {
        if (!m_pTable)
            return;
        QHeaderView* header = m_pTable->horizontalHeader();
        for (std::size_t k = 0; k < m_Labels.size(); ++k) {
            const int first = m_nFirst + 2 * int(k);
            if (first + 1 >= header->count())
                break;
            const int missing = m_Labels[k]->sizeHint().width() - header->sectionSize(first) - header->sectionSize(first + 1);
            if (missing > 0) {
                header->resizeSection(first, header->sectionSize(first) + missing / 2);
                header->resizeSection(first + 1, header->sectionSize(first + 1) + missing - missing / 2);
            }
        }
    }

    // Each caption over its columns as the table shows them now.
    void Place()
    {
        if (!m_pTable)
            return;
        QHeaderView* header = m_pTable->horizontalHeader();
        const QPoint origin = header->viewport()->mapTo(window(), QPoint()) - mapTo(window(), QPoint());
        for (std::size_t k = 0; k < m_Labels.size(); ++k) {
            const int first = m_nFirst + 2 * int(k);
            QLabel* label = m_Labels[k];
            const bool shown = first + 1 < header->count();
            label->setVisible(shown);
            if (!shown)
                continue;
            const int left = header->sectionViewportPosition(first);
            const int right = header->sectionViewportPosition(first + 1) + header->sectionSize(first + 1);
            label->setGeometry(origin.x() + left, 0, right - left, height());
        }
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        Place();
    }
    void moveEvent(QMoveEvent* event) override
    {
        QWidget::moveEvent(event);
        Place();
    }

private:
    QPointer<QTableView> m_pTable;
    int m_nFirst;
    std::vector<QLabel*> m_Labels;
};

namespace {

QString Number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%6.3f", value);
    return QString::fromLatin1(text);
}

QTableWidget* MakeList(int id)
{
    auto* list = new QTableWidget;
    list->setObjectName(IdName(id));
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    return list;
}

QTableWidgetItem* Cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

// The Delete key of the list deletes the selected marks.
class CDeleteKeyFilter : public QObject {
public:
    CDeleteKeyFilter(QObject* parent, CFiducialsDlg* dialog) : QObject(parent), dialog(dialog) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            dialog->OnDeleteFiducials();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    CFiducialsDlg* dialog;
};

} // namespace

// --- Fiducials ---------------------------------------------------------------------

CFiducialsDlg::CFiducialsDlg(CCamera* camera, QWidget* parent)
    : CDialog(243, parent), m_List(MakeList(1119)), m_pCamera(camera)
{
    setWindowTitle(QStringLiteral("Fiducials"));
    m_List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_List, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = BuildContextMenu();
        menu->exec(m_List->viewport()->mapToGlobal(at));
        delete menu;
    });
    connect(m_List, &QTableWidget::cellDoubleClicked, this, [this](int, int) { OnEditFiducial(); });
    m_List->installEventFilter(new CDeleteKeyFilter(m_List, this));
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(IdName(1));
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_List);
    layout->addWidget(ok, 0, Qt::AlignRight);
    resize(240, 300);
}

bool CFiducialsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    RefreshList();
    return true;
}

void CFiducialsDlg::RefreshList()
{
    FillFiducialList(m_List, m_pCamera);
}

QMenu* CFiducialsDlg::BuildContextMenu()
{
    auto* menu = new QMenu(this);
    const int selected = int(SelectedFiducialRows(m_List).size());
    menu->addAction(QStringLiteral("Add"), this, [this] { OnAddFiducial(); });
    menu->addAction(QStringLiteral("Edit"), this, [this] { OnEditFiducial(); })->setEnabled(selected == 1);
    menu->addAction(QStringLiteral("Delete"), this, [this] { OnDeleteFiducials(); })->setEnabled(selected > 0);
    return menu;
}

void CFiducialsDlg::OnAddFiducial()
{
    if (!m_pCamera || !AddFiducialMark(*m_pCamera, this))
        return;
    m_pCamera->modified = true;
    RefreshList();
}

void CFiducialsDlg::OnEditFiducial()
{
    const std::vector<int> rows = SelectedFiducialRows(m_List);
    if (!m_pCamera || rows.empty() || !EditFiducialMark(*m_pCamera, rows.front(), this))
        return;
    m_pCamera->modified = true;
    RefreshList();
}

void CFiducialsDlg::OnDeleteFiducials()
{
    if (!m_pCamera || !DeleteFiducialMarks(*m_pCamera, SelectedFiducialRows(m_List)))
        return;
    m_pCamera->modified = true;
    RefreshList();
}

// --- Interior Orientation Results -----------------------------------------------------

CInteriorOrientationDlg::CInteriorOrientationDlg(QWidget* parent, CChildFrame* owner)
    : CInteriorOrientationDlgBase(188, parent), m_List(MakeList(1097)), m_Sigma(new QLabel), m_pOwner(owner)
{
    setWindowTitle(QStringLiteral("Interior Orientation Results"));
    setModal(false);
    m_Sigma->setObjectName(IdName(1099));
    auto* affine = new QRadioButton(QStringLiteral("Affine"));
    affine->setObjectName(IdName(1040));
    auto* conformal = new QRadioButton(QStringLiteral("Conformal"));
    conformal->setObjectName(IdName(1098));
    connect(affine, &QRadioButton::clicked, this, [this] { OnAffine(); });
    connect(conformal, &QRadioButton::clicked, this, [this] { OnConformal(); });
    auto* accept = new QPushButton(QStringLiteral("Accept"));
    accept->setObjectName(IdName(1));
    accept->setAutoDefault(false);
    connect(accept, &QPushButton::clicked, this, [this] { OnAccept(); });
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(IdName(2));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    m_Captions = new CColumnCaptions(m_List,
                                     {QStringLiteral("Control\nCoordinates\n(mm)"),
                                      QStringLiteral("Observed\nCoordinates\n(mm)"), QStringLiteral("Residuals\n(mm)")},
                                     2);
    auto* bottom = new QGridLayout;
    bottom->addWidget(new QLabel(QStringLiteral("|> Withheld point")), 0, 0);
    bottom->addWidget(new QLabel(QStringLiteral("Sigma (um)")), 0, 1);
    bottom->addWidget(m_Sigma, 0, 2);
    bottom->addWidget(affine, 1, 0);
    bottom->addWidget(conformal, 2, 0);
    bottom->addWidget(accept, 1, 2);
    bottom->addWidget(cancel, 2, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_Captions);
    layout->addWidget(m_List);
    layout->addLayout(bottom);
    resize(520, 320);
}

bool CInteriorOrientationDlg::CreateModeless(CProjectImage* image, CCamera* camera)
{
    m_pImage = image;
    m_pCamera = camera;
    if (!OnInitDialog())
        return false;
    show();
    return true;
}

bool CInteriorOrientationDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nType = 1;
    Item<QRadioButton>(1040)->setChecked(true);
    RefreshResults();
    return true;
}

void CInteriorOrientationDlg::ComputeTransformation(CProjectImage* image, CCamera* camera)
{
    if (!image || !camera || image->fiducials.GetSize() < 3)
        return;
    m_pImage = image;
    m_pCamera = camera;
    const double sigma = m_nType == 1 ? FitAffine2D(*image, *camera) : FitSimilarity2D(*image, *camera);
    // A degenerate layout gives no fit; the last one stands.
    if (sigma >= 0.0)
        m_dSigma = sigma;
}

void CInteriorOrientationDlg::RefreshResults()
{
    m_Sigma->setText(Number(m_dSigma * 1000.0));
    m_List->setRowCount(0);
    m_List->setColumnCount(0);
    m_List->setColumnCount(8);
    m_List->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("Id"), QStringLiteral("x"),
                                       QStringLiteral("y"), QStringLiteral("x"), QStringLiteral("y"),
                                       QStringLiteral("x"), QStringLiteral("y")});
    FillResults();
    // Every column as wide as its content or its header, each caption's pair
    // at least as wide as the caption, and the dialog wide enough for all.
    FitColumnsToContents(m_List);
    m_Captions->WidenColumns();
    ShowAllColumns(m_List);
    m_Captions->Place();
}

void CInteriorOrientationDlg::FillResults()
{
    if (!m_pCamera)
        return;
    const CObservationList& marks = m_pCamera->fiducials;
    m_List->setRowCount(marks.GetSize());
    for (int i = 0; i < marks.GetSize(); ++i) {
        const CImageObservation* m = marks.GetAt(i);
        m_List->setItem(i, 0, Cell(QString()));
        m_List->setItem(i, 1, Cell(FromCp1252(m->label.GetText())));
        m_List->setItem(i, 2, Cell(Number(m->x)));
        m_List->setItem(i, 3, Cell(Number(m->y)));
    }
    if (m_pImage)
        for (int i = 0; i < m_pImage->fiducials.GetSize(); ++i) {
            const CImageObservation* o = m_pImage->fiducials.GetAt(i);
            const int row = marks.FindIndex(o->label);
            if (row < 0)
                continue;
            const double values[4] = {o->x, o->y, o->vx, o->vy};
            for (int k = 0; k < 4; ++k)
                m_List->setItem(row, 4 + k, Cell(Number(values[k])));
        }
}

void CInteriorOrientationDlg::OnAffine()
{
    ChooseType(1);
}

void CInteriorOrientationDlg::OnConformal()
{
    ChooseType(0);
}

void CInteriorOrientationDlg::ChooseType(int type)
{
    m_nType = type;
    if (m_pImage && m_pImage->fiducials.GetSize() >= 3) {
        ComputeTransformation(m_pImage, m_pCamera);
        RefreshResults();
    }
}

void CInteriorOrientationDlg::EndFiducialMode()
{
    if (m_pOwner)
        SendHubMessage(UM_END_INTERIOR_ORIENTATION, 1, 0, m_pOwner->AsHubTarget());
    else
        QDialog::done(QDialog::Rejected);
}

void CInteriorOrientationDlg::OnAccept()
{
    const char* question =
        m_nType == 1 ? "Affine Transformation Parameters will be Applied to all Further Measurements\nAccept?"
                     : "Conformal Transformation Parameters will be Applied to all Further Measurements\nAccept?";
    if (AfxMessageBox(question, MB_YESNO) != IDYES) {
        if (m_pImage)
            m_pImage->transformation = CVector();
        return;
    }
    if (m_pImage)
        m_pImage->transformAccepted = true;
    if (m_pOwner)
        EndFiducialMode();
    else
        QDialog::done(QDialog::Accepted);
}

void CInteriorOrientationDlg::OnCancel()
{
    if (m_pImage)
        m_pImage->transformation = CVector();
    EndFiducialMode();
}

void CInteriorOrientationDlg::OnClose()
{
    EndFiducialMode();
}

void CInteriorOrientationDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    OnClose();
}

#include "CreateEmptyImagesDlg.h"

#include "Camera.h"
#include "Hooks.h"
#include "KestrelonDoc.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CCreateEmptyImagesDlg::CCreateEmptyImagesDlg(QWidget* parent, CCamera* camera, CKestrelonDoc* doc)
    : CDialog(333, parent), m_pCamera(camera), m_pDoc(doc)
{
    setWindowTitle(QStringLiteral("Create Empty Images"));
    auto* grid = new QGridLayout;
    auto* count = new QLineEdit;
    count->setObjectName(IdName(1061));
    auto* folder = new QLineEdit;
    folder->setObjectName(IdName(1291));
    auto* browse = new QPushButton(QStringLiteral("..."));
    browse->setObjectName(IdName(1406));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    grid->addWidget(new QLabel(QStringLiteral("Number of images to create")), 0, 0);
    grid->addWidget(count, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Image coordinate directory")), 1, 0);
    grid->addWidget(folder, 1, 1);
    grid->addWidget(browse, 1, 2);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    ok->setObjectName(IdName(1));
    cancel->setObjectName(IdName(2));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(box);
}

bool CCreateEmptyImagesDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_strDirectory = m_pDoc ? FromCp1252(m_pDoc->GetProjectFolder().GetText()) : QString();
    m_nImages = 1;
    UpdateData(false);
    return true;
}

void CCreateEmptyImagesDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1061, m_nImages);
    DDX_Text(dx, 1291, m_strDirectory);
}

void CCreateEmptyImagesDlg::OnBrowse()
{
    UpdateData(true);
    CFileDialogRequest request;
    request.title = QStringLiteral("Select Image File Directory");
    request.folder = m_strDirectory;
    request.filter = QStringLiteral("Image coordinate files (*.icf);;All Files (*.*)");
    request.defaultSuffix = QStringLiteral("icf");
    const QString path = AfxGetFileName(this, request);
    if (path.isEmpty())
        return;
    m_strDirectory = QFileInfo(path).absolutePath();
    UpdateData(false);
}

void CCreateEmptyImagesDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    if (m_pDoc && m_pCamera) {
        QString folder = m_strDirectory;
        if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        int n = 0;
        for (int i = 0; i < m_nImages; ++i) {
            QString path;
            do {
                ++n;
                path = folder + QString::asprintf("Image%03d.icf", n);
            } while (QFileInfo::exists(path) && n < 999);
            // Past the last free name: no image is pointed at an existing file.
            if (n >= 999 && (i + 1 < m_nImages || QFileInfo::exists(path)))
                break;
            CProjectImage* image = m_pDoc->AddNewImage("");
            if (!image)
                break;
            image->SetCameraName(m_pCamera->identifier.GetText());
            image->SetFilePath(ToCp1252(path).c_str());
        }
    }
    EndDialog(QDialog::Accepted);
}

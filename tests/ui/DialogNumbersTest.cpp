// Numbers typed into dialog fields: only the C locale's notation is taken,
// whatever the user's locale; anything else gets the field's message, the
// dialog stays open with the field selected, and nothing is stored. Then
// every numeric field of the dialogs that write records, and the name combos
// that store what they show.
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "BinArchive.h"
#include "3DView.h"
#include "CameraDialogs.h"
#include "CentroidSettings.h"
#include "CreateEmptyImagesDlg.h"
#include "DeviceDialogs.h"
#include "EODevice.h"
#include "MeasurementDialogs.h"
#include "OkCancelButtons.h"
#include "PointDialogs.h"
#include "ScaleBar.h"
#include "SettingsDialogs.h"
#include "StationDialogs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <climits>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The record's bytes as its archive writes them.
template <class Store>
std::string Bytes(Store&& store)
{
    std::stringbuf buffer;
    {
        CBinArchive ar(&buffer, std::ios::out);
        store(ar);
    }
    return buffer.str();
}

// One field of each kind the exchange knows.
class FieldKindsDlg : public CDialog {
public:
    enum : int { kInt = 2001, kDouble, kIntRange, kDoubleRange, kCount };
    FieldKindsDlg() : CDialog(2000)
    {
        auto* grid = new QGridLayout(this);
        for (int id = kInt; id <= kCount; ++id) {
            auto* edit = new QLineEdit;
            edit->setObjectName(IdName(id));
            grid->addWidget(edit, id - kInt, 0);
        }
        grid->addWidget(NewOkCancelButtons(this), kCount - kInt + 1, 0);
    }
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Text(dx, kInt, integer);
        DDX_Text(dx, kDouble, number);
        DDX_Text(dx, kIntRange, ranged);
        DDV_MinMaxInt(dx, ranged, 1, 10);
        DDX_Text(dx, kDoubleRange, fraction);
        DDV_MinMaxDouble(dx, fraction, 0.0, 1.0);
        DDX_Text(dx, kCount, count);
    }
    QString Members() const
    {
        return QStringLiteral("%1 %2 %3 %4 %5").arg(integer).arg(number, 0, 'g', 17).arg(ranged).arg(fraction).arg(count);
    }

    int integer = 7;
    double number = 2.5;
    int ranged = 5;
    double fraction = 0.5;
    unsigned count = 3;
};

class DialogNumbers : public ShellFixture {
protected:
    // Types the text over the field and clicks OK. With a message, checks
    // that it was the only one, the dialog is still open with the field's
    // text selected; then closes the dialog.
    void TypeAndOk(CDialog& d, int id, const QString& text, const std::string& message, const std::string& what)
    {
        SCOPED_TRACE(what);
        auto* edit = d.Item<QLineEdit>(id);
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        ASSERT_EQ(edit->text(), text);
        auto* ok = d.Item<QAbstractButton>(IDOK);
        ASSERT_NE(ok, nullptr);
        QTest::mouseClick(ok, Qt::LeftButton);
        const std::vector<std::string> shown = TakeMessages();
        if (message.empty()) {
            EXPECT_EQ(shown, std::vector<std::string>{});
            return;
        }
        EXPECT_EQ(shown, std::vector<std::string>{message});
        EXPECT_TRUE(d.isVisible());
        EXPECT_NE(d.result(), int(QDialog::Accepted));
        EXPECT_EQ(edit->selectedText(), text);
        d.OnCancel();
    }
};

// Every field kind under a decimal-comma locale: the text is taken only when
// it is a whole number in the C notation.
TEST_F(DialogNumbers, FieldsTakeOnlyNumbersInTheCNotation)
{
    ASSERT_TRUE(Start());
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string kInteger = "Please enter an integer.";
    const std::string kNumber = "Please enter a number.";
    const std::string kCount = "Please enter a positive integer.";
    const struct {
        int id;
        const char* text;
        const char* message; // null: taken
        const char* members; // after OK when taken
    } cases[] = {
        {FieldKindsDlg::kInt, "42", nullptr, "42 2.5 5 0.5 3"},
        {FieldKindsDlg::kInt, " -42 ", nullptr, "-42 2.5 5 0.5 3"},
        {FieldKindsDlg::kInt, "1,000", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "4,2", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "4.2", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "42abc", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "abc", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kInt, "99999999999", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "0.001", nullptr, "7 0.001 5 0.5 3"},
        {FieldKindsDlg::kDouble, "-3.5e2", nullptr, "7 -350 5 0.5 3"},
        {FieldKindsDlg::kDouble, "0,001", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "3,546", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "1,234.5", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "3.5 mm", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "inf", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kDouble, "nan", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kIntRange, "10", nullptr, "7 2.5 10 0.5 3"},
        {FieldKindsDlg::kIntRange, "11", "Please enter an integer between 1 and 10.", nullptr},
        {FieldKindsDlg::kIntRange, "1,0", kInteger.c_str(), nullptr},
        {FieldKindsDlg::kDoubleRange, "0.25", nullptr, "7 2.5 5 0.25 3"},
        {FieldKindsDlg::kDoubleRange, "1.5", "Please enter a number between 0 and 1.", nullptr},
        {FieldKindsDlg::kDoubleRange, "0,25", kNumber.c_str(), nullptr},
        {FieldKindsDlg::kCount, "4000", nullptr, "7 2.5 5 0.5 4000"},
        {FieldKindsDlg::kCount, "-5", kCount.c_str(), nullptr},
        {FieldKindsDlg::kCount, "4,000", kCount.c_str(), nullptr},
        {FieldKindsDlg::kCount, "abc", kCount.c_str(), nullptr},
    };
    for (const auto& c : cases) {
        FieldKindsDlg d;
        d.OnInitDialog();
        d.show();
        const QString before = d.Members();
        TypeAndOk(d, c.id, QString::fromLatin1(c.text), c.message ? c.message : "",
                  std::to_string(c.id) + " \"" + c.text + "\"");
        if (c.message) {
            EXPECT_EQ(d.Members(), before) << c.id << " " << c.text;
        } else {
            EXPECT_EQ(d.result(), int(QDialog::Accepted)) << c.id << " " << c.text;
            EXPECT_EQ(d.Members(), QString::fromLatin1(c.members)) << c.id << " " << c.text;
        }
    }
    QLocale::setDefault(saved);
}

// Every numeric field of the dialogs that write into a record: a text that
// is not a number is refused with its message, the dialog stays open, and
// the record keeps every byte.
TEST_F(DialogNumbers, EveryNumericFieldRefusesTextAndLeavesTheRecord)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    // The records the dialogs work on.
    CCamera camera;
    camera.identifier = "Cam";
    camera.XPixels = 3000, camera.YPixels = 2000;
    camera.XPixelSize = camera.YPixelSize = 0.006;
    camera.parameters[CAM_C] = 20.0;
    CCamera* projectCamera = AddCamera(*doc, "Cam");
    *projectCamera = camera;
    CProjectImage* image = AddImage(*doc, {"Cam", true, true, 0});
    image->SetPose(0, -1000, 0, 0, 0, 0);
    CScaleBar* bar = doc->scaleBars.AddNew();
    bar->name = "Bar";
    bar->calibratedLength = 1000.0, bar->standardDeviation = 0.01;
    bar->endLabel1 = "A1", bar->endLabel2 = "A2";
    CEODeviceList devices;
    CEODevice* device = devices.AddNew();
    device->SetName("Dev");
    device->AddPointSorted(CObjectPoint("T1", 1.0, 2.0, 3.0));
    CPointSet points;
    points.AddPointSorted(CObjectPoint("P1", 1.0, 2.0, 3.0));
    CObjectPoint* point = points.GetAt(0);
    int version = 0;

    const std::vector<int> kCameraSigmas = {1016, 1025, 1017, 1018, 1019, 1022, 1023, 1024, 1204, 1206};
    std::vector<int> cameraData = {1004, 1005, 1006, 1007};
    cameraData.insert(cameraData.end(), kCameraSigmas.begin(), kCameraSigmas.end());
    const struct Entry {
        const char* name;
        std::function<std::unique_ptr<CDialog>()> make;
        std::vector<int> ids;
        std::function<std::string()> record;
    } entries[] = {
        {"Camera Input", [&] { return std::make_unique<CCameraInputDlg>(&camera); }, {1004, 1005, 1006, 1007},
         [&] { return Bytes([&](CBinArchive& ar) { camera.Serialize(ar, &version); }); }},
        {"Camera DataBase", [&] { return std::make_unique<CCameraDataDlg>(projectCamera, nullptr); }, cameraData,
         [&] { return Bytes([&](CBinArchive& ar) { projectCamera->Serialize(ar, &version); }); }},
        {"ScaleBars", [&] { return std::make_unique<CScaleBarsDlg>(&doc->scaleBars, 0); }, {1078, 1077, 1085, 1104},
         [&] { return Bytes([&](CBinArchive& ar) { bar->Serialize(ar); }); }},
        {"EO Device Properties", [&] { return std::make_unique<CEODevicePropertiesDlg>(device, &devices); }, {1075},
         [&] { return Bytes([&](CBinArchive& ar) { device->Serialize(ar, &version); }); }},
        {"Edit Camera Station", [&] { return std::make_unique<CEditCameraStationDlg>(image, nullptr, doc); },
         {1041, 1042, 1043, 1044, 1045, 1046, 1109, 1141, 1142, 1143, 1144, 1145},
         [&] { return Bytes([&](CBinArchive& ar) { image->Serialize(ar, &version); }); }},
        {"Resect Station", [&] { return std::make_unique<CResectStationDlg>(image, nullptr, doc); }, {1041, 1042, 1043},
         [&] { return Bytes([&](CBinArchive& ar) { image->Serialize(ar, &version); }); }},
        {"Edit 3D Point", [&] { return std::make_unique<CEdit3DPointDlg>(point, true, nullptr, &points); },
         {CEdit3DPointDlg::kX, CEdit3DPointDlg::kY, CEdit3DPointDlg::kZ, CEdit3DPointDlg::kSigmaX,
          CEdit3DPointDlg::kSigmaY, CEdit3DPointDlg::kSigmaZ},
         [&] { return Bytes([&](CBinArchive& ar) { point->Serialize(ar, &version, false); }); }},
        {"Adjustment Controls", [&] { return std::make_unique<CAdjustmentControlsDlg>(); },
         {1102, 1117, 1182, 1120, 1119, 1116, 1105, 1106, 1104, 1149},
         [&] { return Bytes([&](CBinArchive& ar) { doc->settings.Serialize(ar, &version); }); }},
        {"Rejection Limit", [&] { return std::make_unique<CRejectionLimitDlg>(); }, {1686, 1853},
         [&] { return Bytes([&](CBinArchive& ar) { doc->settings.Serialize(ar, &version); }); }},
        {"Balanced Distortion", [&] { return std::make_unique<CBalancedDistortionDlg>(1.0, 2.0, 0.25); },
         {1361, 1362, 1363}, nullptr},
        {"Add/Edit Fiducial/Reseau", [&] { return std::make_unique<CFiducialEditDlg>(); }, {1055, 1056}, nullptr},
        {"Centroid Parameters", [&] { return std::make_unique<CCentroidParametersDlg>(); }, {1566, 1568, 1762, 1164},
         [&] {
             CCentroidSettings settings = GetCentroidSettings();
             return Bytes([&](CBinArchive& ar) { SerializeCentroidSettings(ar, settings); });
         }},
        {"Create Empty Images", [&] { return std::make_unique<CCreateEmptyImagesDlg>(nullptr, projectCamera, doc); },
         {1061}, [&] { return std::to_string(doc->images.GetSize()); }},
        {"3D View Scale", [&] { return std::make_unique<C3DViewScaleDlg>(2.0, 0); }, {C3DViewScaleDlg::kScale},
         nullptr},
    };
    const char* kTexts[] = {"abc", "0,001", "12abc"};
    for (const Entry& e : entries) {
        const std::string before = e.record ? e.record() : std::string();
        for (int id : e.ids) {
            std::vector<const char*> texts(std::begin(kTexts), std::end(kTexts));
            if (std::string(e.name) == "Camera Input" && (id == 1004 || id == 1005))
                texts.push_back("-5");
            for (const char* text : texts) {
                const std::string what = std::string(e.name) + " " + std::to_string(id) + " \"" + text + "\"";
                std::unique_ptr<CDialog> d = e.make();
                ASSERT_TRUE(d->OnInitDialog()) << what;
                d->show();
                if (id == e.ids.front() && text == texts.front()) {
                    EXPECT_TRUE(QTest::qWaitForWindowExposed(d.get())) << what;
                    QString picture = QString::fromLatin1(e.name);
                    picture.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
                    ExpectWholeAndSave(*d, QStringLiteral("/Numbers-%1.png").arg(picture));
                }
                auto* edit = d->Item<QLineEdit>(id);
                ASSERT_NE(edit, nullptr) << what;
                ASSERT_TRUE(edit->isVisible()) << what;
                // The field's own message is one of the exchange's.
                QTest::mouseClick(edit, Qt::LeftButton);
                edit->selectAll();
                QTest::keyClicks(edit, QString::fromLatin1(text));
                // (The station dialog's view shares the OK button's id.)
                auto* ok = d->findChild<QAbstractButton*>(IdName(IDOK));
                ASSERT_NE(ok, nullptr) << what;
                QTest::mouseClick(ok, Qt::LeftButton);
                const std::vector<std::string> shown = TakeMessages();
                ASSERT_EQ(shown.size(), 1u) << what;
                EXPECT_EQ(shown[0].rfind("Please enter ", 0), 0u) << what << ": " << shown[0];
                EXPECT_TRUE(d->isVisible()) << what;
                EXPECT_NE(d->result(), int(QDialog::Accepted)) << what;
                EXPECT_EQ(edit->selectedText(), QString::fromLatin1(text)) << what;
                if (id == 1004 && std::string(e.name) == "Camera Input" && std::string(text) == "-5") {
                    QDir().mkpath(TestOutputFolder());
                    ExpectWholeAndSave(*d, "/CameraInputRefusedCount.png");
                }
                d->OnCancel();
                if (e.record) {
                    EXPECT_EQ(e.record(), before) << what;
                }
            }
        }
    }
    EXPECT_FALSE(doc->IsModified());
}

// The name combos store the text they show, also when it begins like
// another entry's name.
TEST_F(DialogNumbers, NameCombosStoreTheShownText)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    for (const char* name : {"SampleBar", "Other"}) {
        CScaleBar* bar = doc->scaleBars.AddNew();
        bar->name = name;
        bar->calibratedLength = 1000.0, bar->standardDeviation = 0.01;
        bar->endLabel1 = "A1", bar->endLabel2 = "A2";
    }
    CEODeviceList devices;
    for (const char* name : {"SampleDev", "Other"}) {
        CEODevice* device = devices.AddNew();
        device->SetName(name);
        device->AddPointSorted(CObjectPoint("T1", 1.0, 2.0, 3.0));
    }
    auto typeAndOk = [this](CDialog& d, QComboBox* combo) {
        // Typed into the focused box of the active dialog, as a user does.
        d.show();
        d.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d, 30000));
        QTest::mouseClick(combo->lineEdit(), Qt::LeftButton);
        EXPECT_TRUE(combo->lineEdit()->hasFocus());
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("Sam"));
        const QString shown = combo->currentText();
        QTest::mouseClick(d.Item<QAbstractButton>(IDOK), Qt::LeftButton);
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
        EXPECT_EQ(d.result(), int(QDialog::Accepted));
        return shown;
    };
    {
        CScaleBarsDlg d(&doc->scaleBars, 1);
        d.OnInitDialog();
        EXPECT_EQ(typeAndOk(d, d.NameCombo()), QStringLiteral("Sam"));
    }
    EXPECT_STREQ(doc->scaleBars.GetAt(1)->name.GetText(), "Sam");
    EXPECT_STREQ(doc->scaleBars.GetAt(0)->name.GetText(), "SampleBar");
    {
        CEODevicePropertiesDlg d(devices.GetAt(1), &devices);
        d.OnInitDialog();
        EXPECT_EQ(typeAndOk(d, d.m_NameCombo), QStringLiteral("Sam"));
    }
    EXPECT_STREQ(devices.GetAt(1)->GetName().GetText(), "Sam");
    EXPECT_STREQ(devices.GetAt(0)->GetName().GetText(), "SampleDev");
}

} // namespace

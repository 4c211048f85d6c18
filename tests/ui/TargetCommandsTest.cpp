// Compute Target Ellipses (316) and Compute Target Normals (317) run by id
// on small projects of known truth.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "CircleScene.h"
#include "EllipseRecord.h"
#include "KestrelonDoc.h"
#include "TargetRenderer.h"

#include <cmath>
#include <string>

namespace {

class TargetCommands : public ShellFixture {};

TEST_F(TargetCommands, ComputeTargetEllipsesFitsEveryTargetOfThePicture)
{
    NewProject();
    TargetScene scene;
    scene.width = 96;
    scene.height = 80;
    scene.blurSigma = 0.7;
    scene.noiseSigma = 2.0;
    // Dark targets on a light background, as the centroid settings expect
    // by default.
    scene.background = 220.0;
    const double truth[2][5] = {{25.3, 30.6, 9.0, 6.0, 0.5}, {68.8, 44.2, 5.0, 4.0, 2.2}};
    for (const auto& t : truth) {
        RenderedTarget target;
        target.x = t[0];
        target.y = t[1];
        target.semiAxisA = t[2];
        target.semiAxisB = t[3];
        target.rotation = t[4];
        target.amplitude = -180.0;
        scene.targets.push_back(target);
    }
    const std::string path = scratch.filePath("targets.bmp").toStdString();
    ASSERT_TRUE(WritePicture(path, RenderScene(scene)));

    CCamera* camera = AddCamera(*doc, "Cam");
    camera->XPixels = scene.width;
    camera->YPixels = scene.height;
    camera->XPixelSize = 0.01;
    camera->YPixelSize = 0.01;
    CProjectImage* image = AddImage(*doc, {"Cam", true, false, 0});
    image->SetFilePath(path.c_str());
    for (int k = 0; k < 2; ++k) {
        double x = 0.0, y = 0.0;
        camera->PixelToImage(truth[k][0], truth[k][1], x, y);
        image->targets.AddSorted(CImageObservation(CNameBuffer(std::to_string(k + 1).c_str()), x, y));
    }

    doc->SetModifiedFlag(false);
    Frame()->OnCommandId(316);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(doc->GetTitle().endsWith('*'));
    for (int k = 0; k < 2; ++k) {
        const CTargetEllipse* e = image->targets.GetAt(k)->GetEllipse();
        ASSERT_NE(e, nullptr);
        double column = 0.0, row = 0.0;
        camera->ImageToPixel(e->centreX, e->centreY, column, row);
        EXPECT_NEAR(column, truth[k][0], 0.05);
        EXPECT_NEAR(row, truth[k][1], 0.05);
        EXPECT_NEAR(e->major / camera->XPixelSize, truth[k][2], 0.5);
    }
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(TargetCommands, ComputeTargetNormalsGivesTheDriverSetItsNormals)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam");
    MakeCircleCamera(*camera, "Cam");
    for (int k = 0; k < 3; ++k) {
        CProjectImage* image = AddImage(*doc, {"Cam", true, true, 0});
        OrientTowardsCircle(*image, k, "Cam");
        ASSERT_TRUE(ObserveCircle(*image, *camera, 10.0, "T1"));
    }
    // A disabled image with a contradicting ellipse is not used.
    CProjectImage* off = AddImage(*doc, {"Cam", false, true, 0});
    OrientTowardsCircle(*off, 3, "Cam");
    off->enabled = false;
    ASSERT_TRUE(ObserveCircle(*off, *camera, 14.0, "T1"));

    CPointSet* set = AddPointSet(*doc, "Bundle");
    set->isDriver = true;
    set->AddPointSorted(CObjectPoint(CNameBuffer("T1"), kCircleCentre.x, kCircleCentre.y, kCircleCentre.z));
    set->AddPointSorted(CObjectPoint(CNameBuffer("T2"), 0.0, 0.0, 0.0));

    doc->SetModifiedFlag(false);
    Frame()->OnCommandId(317);
    EXPECT_TRUE(doc->IsModified());
    const CObjectPoint* t1 = set->FindPoint(CNameBuffer("T1"));
    EXPECT_NEAR(t1->normal[0], kCircleNormal.x, 1e-6);
    EXPECT_NEAR(t1->normal[1], kCircleNormal.y, 1e-6);
    EXPECT_NEAR(t1->normal[2], kCircleNormal.z, 1e-6);
    EXPECT_NEAR(t1->radius, 10.0, 1e-5);
    EXPECT_FALSE(set->FindPoint(CNameBuffer("T2"))->HasNormal());
}

TEST_F(TargetCommands, NothingToComputeLeavesTheProjectUnmodified)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam");
    MakeCircleCamera(*camera, "Cam");
    // Images without observations, and no driver set.
    for (int k = 0; k < 2; ++k)
        AddImage(*doc, {"Cam", true, true, 0});
    for (int id : {316, 317}) {
        doc->SetModifiedFlag(false);
        Frame()->OnCommandId(id);
        EXPECT_FALSE(doc->IsModified()) << id;
        EXPECT_FALSE(doc->GetTitle().endsWith('*')) << id;
    }
}

} // namespace

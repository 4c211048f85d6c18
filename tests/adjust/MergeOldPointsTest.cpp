// A merge replaces the working points; each new point takes the target
// normal and radius of the old point with its label. Labels whose natural
// order differs from their bytes, old sets in label order and out of it, and
// old points without a new one or a normal.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "Camera.h"
#include "ImageObservation.h"
#include "PointSet.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

namespace merge_old_points_test {

struct OldPoint {
    const char* label;
    double normalZ; // 0: no normal
    double radius;
};

TEST(MergeOldPoints, NormalsFollowTheirLabels)
{
    // Observed twice (a point each): natural order differs from the bytes'.
    const std::vector<const char*> observed = {"P2", "P10", "A01", "A1", "X-1", "X-12", "Q", "Q9", "Z100", "Z99"};
    const std::vector<OldPoint> olds = {
        {"A1", 2.0, 0.1},  {"A01", 3.0, 0.2}, {"P10", 4.0, 0.3}, {"P2", 0.0, 0.4}, {"X-12", 5.0, 0.5},
        {"GONE", 6.0, 0.6}, {"Q9", 7.0, 0.7}, {"Z99", 8.0, 0.8}, {"Z100", 9.0, 0.9},
    };
    for (bool ordered : {true, false}) {
        SCOPED_TRACE(ordered ? "old set in label order" : "old set out of order");
        CProjectImageList list;
        for (int j = 0; j < 2; ++j) {
            CProjectImage* image = list.AddNew();
            for (const char* l : observed)
                image->targets.AddCopy(CImageObservation(CNameBuffer(l), 0.0, 0.0, 0.001, 0.001, -1.0, -1.0));
        }
        CImagePtrArray images;
        list.GetPointerArray(images);
        CPointSet points;
        for (const OldPoint& o : olds) {
            CObjectPoint p(o.label, 1.0, 2.0, 3.0);
            if (o.normalZ != 0.0)
                p.SetNormal(0.0, 0.0, o.normalZ);
            p.radius = o.radius;
            points.AddCopy(p);
        }
        if (ordered) {
            ASSERT_TRUE(points.SortByLabel());
        }
        CCameraList cameras;
        CProjectSettings settings;
        CAdjustmentSummary summary;
        CAdjustmentEngine engine(&images, &points, nullptr, &cameras, nullptr, &settings, &summary);
        ASSERT_TRUE(engine.MergeData());

        std::map<std::string, const OldPoint*> byLabel;
        for (const OldPoint& o : olds)
            byLabel[o.label] = &o;
        ASSERT_EQ(points.GetSize(), static_cast<int>(observed.size()));
        for (int i = 0; i < points.GetSize(); ++i) {
            const CObjectPoint& p = *points.GetAt(i);
            SCOPED_TRACE(p.label.GetText());
            const auto found = byLabel.find(p.label.GetText());
            const bool carried = found != byLabel.end() && found->second->normalZ != 0.0;
            EXPECT_EQ(p.HasNormal(), carried);
            EXPECT_EQ(p.radius, carried ? found->second->radius : 0.0);
            if (carried) {
                EXPECT_DOUBLE_EQ(p.normal[2], 1.0);
            }
            EXPECT_EQ(p.x, 0.0); // coordinates are not taken over
        }
    }
}

} // namespace merge_old_points_test

#include "PointSetList.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ArchiveRun.h"
#include "ProjectDocument.h"

namespace {

CPointSet NamedSet(const char* path, int points = 0)
{
    CPointSet set(0);
    set.name = path;
    for (int i = 1; i <= points; ++i)
        set.AddPointSorted(CObjectPoint(("P" + std::to_string(i)).c_str(), i, 2.0 * i, 3.0 * i));
    return set;
}

int CountDrivers(const CPointSetList& list)
{
    int n = 0;
    for (int i = 0; i < list.GetSize(); ++i)
        n += list.GetAt(i)->isDriver ? 1 : 0;
    return n;
}

} // namespace

TEST(PointSetList, LookupsAreByExactTitleAndSeeTheEODevice)
{
    CProjectDocument doc;
    CPointSetList& sets = doc.pointSets;
    sets.AddCopy(NamedSet("/proj/Bundle.xyz"));
    sets.AddCopy(NamedSet("/proj/bundle.xyz"));
    sets.AddCopy(NamedSet("C:\\old\\Bundle.xyz", 4));
    sets.AddCopy(NamedSet("/proj/CROSS.xyz", 2));

    EXPECT_EQ(sets.GetBundleSet(), sets.GetAt(0)) << "the first of equal titles";
    EXPECT_EQ(sets.FindByName("bundle"), sets.GetAt(1)) << "titles compare case-sensitively";
    EXPECT_EQ(sets.GetTriangulateSet(), nullptr);
    EXPECT_EQ(sets.GetEODevice(), nullptr) << "a device without a name counts as absent";
    EXPECT_EQ(sets.FindByName(""), nullptr);

    doc.eoDevice.SetName("CROSS");
    doc.eoDevice.AddPointSorted(CObjectPoint("E1", 1, 1, 1));
    EXPECT_EQ(sets.GetEODevice(), &doc.eoDevice);
    EXPECT_EQ(sets.FindByName("CROSS"), sets.GetAt(3)) << "a set goes before the device of the same name";
    doc.eoDevice.SetName("FRAME");
    EXPECT_EQ(sets.FindByName("FRAME"), &doc.eoDevice);
    EXPECT_EQ(doc.FindPointSet("FRAME"), &doc.eoDevice);
}

// The neighbours of a set by its title: none before the first, after the
// last, or for a title no set has.
TEST(PointSetList, NeighboursByTitle)
{
    CProjectDocument doc;
    CPointSetList& sets = doc.pointSets;
    for (const char* path : {"/p/A.xyz", "/p/B.xyz", "/p/C.xyz"})
        sets.AddCopy(NamedSet(path));
    const struct {
        const char* title;
        int previous; // index, -1: none
        int next;
    } cases[] = {{"A", -1, 1}, {"B", 0, 2}, {"C", 1, -1}, {"D", -1, -1}, {"", -1, -1}, {"b", -1, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(sets.GetPreviousSet(c.title), c.previous < 0 ? nullptr : sets.GetAt(c.previous)) << c.title;
        EXPECT_EQ(sets.GetNextSet(c.title), c.next < 0 ? nullptr : sets.GetAt(c.next)) << c.title;
    }
}

TEST(PointSetList, RolesAreExclusiveAndToggle)
{
    CProjectDocument doc;
    doc.pointSets.AddCopy(NamedSet("/p/A.xyz"));
    doc.pointSets.AddCopy(NamedSet("/p/B.xyz"));
    CPointSet* a = doc.pointSets.GetAt(0);
    CPointSet* b = doc.pointSets.GetAt(1);

    doc.ToggleDriverSet("A");
    doc.ToggleDriverSet("B");
    EXPECT_FALSE(a->isDriver);
    EXPECT_TRUE(b->isDriver);
    EXPECT_EQ(doc.pointSets.GetDriverSet(), b);
    doc.ToggleDriverSet("B");
    EXPECT_EQ(CountDrivers(doc.pointSets), 0);
    doc.ToggleDriverSet("NOSUCH");
    EXPECT_EQ(CountDrivers(doc.pointSets), 0);

    // Control: taking the role off the only control set frees the network.
    doc.settings.freeNetwork = false;
    doc.ToggleControlSet("A");
    doc.ToggleControlSet("B");
    EXPECT_FALSE(a->isControl);
    EXPECT_TRUE(doc.pointSets.HasControlSet());
    EXPECT_FALSE(doc.settings.freeNetwork);
    doc.ToggleControlSet("B");
    EXPECT_FALSE(doc.pointSets.HasControlSet());
    EXPECT_TRUE(doc.settings.freeNetwork);

    // Deleting the set with a role removes the role.
    doc.ToggleDriverSet("A");
    EXPECT_TRUE(doc.DeletePointSet("A"));
    EXPECT_EQ(doc.pointSets.GetDriverSet(), nullptr);
}

TEST(PointSetList, DeletingTheDeviceResetsItAndUnknownNamesChangeNothing)
{
    CProjectDocument doc;
    doc.pointSets.AddCopy(NamedSet("/p/A.xyz", 3));
    doc.eoDevice.SetName("CROSS");
    doc.eoDevice.SetIDShape(4);
    doc.eoDevice.AddPointSorted(CObjectPoint("E1", 1, 1, 1));

    EXPECT_FALSE(doc.DeletePointSet("NOSUCH"));
    EXPECT_FALSE(doc.DeletePointSet(""));
    EXPECT_FALSE(doc.IsModified());

    EXPECT_TRUE(doc.DeletePointSet("CROSS"));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.eoDevice.GetSize(), 0);
    EXPECT_EQ(doc.eoDevice.idShape, 1);
    EXPECT_TRUE(doc.eoDevice.GetName().IsEmpty());
    EXPECT_EQ(doc.pointSets.GetSize(), 1);

    EXPECT_TRUE(doc.pointSets.RemoveByName("A"));
    EXPECT_EQ(doc.pointSets.GetSize(), 0);
    EXPECT_FALSE(doc.pointSets.RemoveByName("A"));
}

TEST(PointSetList, ResultSetsAreFoundOrCreatedInTheProjectFolder)
{
    CProjectDocument doc;
    doc.SetPathName("/work/proj/Survey.kst");
    doc.pointSets.AddCopy(NamedSet("/work/proj/Intersected.xyz", 5));
    CPointSet driver = NamedSet("/work/proj/Control.xyz", 12);
    driver.isDriver = true;
    doc.pointSets.AddCopy(driver);

    CPointSet* tri = doc.GetTriangulatePointSet();
    ASSERT_NE(tri, nullptr);
    EXPECT_STREQ(tri->name.GetText(), "/work/proj/Triangulate.xyz");
    EXPECT_EQ(tri->GetSize(), 0);
    EXPECT_EQ(doc.pointSets.FindByName("Intersected"), nullptr) << "the intersected set gives way";
    EXPECT_EQ(doc.pointSets.GetSize(), 2);

    CPointSet* bundle = doc.GetBundlePointSet();
    ASSERT_NE(bundle, nullptr);
    EXPECT_STREQ(bundle->name.GetText(), "/work/proj/Bundle.xyz");
    ASSERT_EQ(bundle->GetSize(), 12) << "seeded with the driver set's points";
    EXPECT_FALSE(bundle->isDriver || bundle->isControl || bundle->isDiscrepancySet);
    EXPECT_STREQ(bundle->GetAt(11)->label.GetText(), "P12");
    EXPECT_DOUBLE_EQ(bundle->GetAt(11)->z, 36.0);
    bundle->GetAt(0)->x = 99.0;
    EXPECT_DOUBLE_EQ(doc.pointSets.GetDriverSet()->GetAt(0)->x, 1.0) << "copies, not shared points";
    EXPECT_EQ(doc.GetBundlePointSet(), bundle);

    CPointSet* ro = doc.GetROPointSet();
    EXPECT_STREQ(ro->name.GetText(), "/work/proj/ROArray.xyz");
    EXPECT_EQ(ro->GetSize(), 0);
    EXPECT_EQ(doc.GetROPointSet(), ro);

    // A project never saved names the set by its file name alone.
    CProjectDocument unsaved;
    EXPECT_STREQ(unsaved.GetBundlePointSet()->name.GetText(), "Bundle.xyz");
}

TEST(PointSetList, ReplacementsCopyTheWholeSetAndMarkDiscrepancies)
{
    CPointSetList sets;
    sets.AddCopy(NamedSet("/p/Trans.xyz", 2));
    sets.AddCopy(NamedSet("/p/Other.xyz", 1));
    CPointSet result = NamedSet("/p/Trans.xyz", 5);
    result.isControl = true;

    CPointSet* copy = sets.ReplaceTransSet(result);
    ASSERT_EQ(sets.GetSize(), 2);
    EXPECT_EQ(sets.GetAt(1), copy) << "the copy is appended";
    EXPECT_EQ(copy->GetSize(), 5);
    EXPECT_TRUE(copy->isDiscrepancySet);
    EXPECT_TRUE(copy->isControl);
    EXPECT_FALSE(result.isDiscrepancySet);

    // The set given may be the very set that is replaced.
    CPointSet* again = sets.ReplaceTransSet(*copy);
    EXPECT_EQ(sets.GetSize(), 2);
    EXPECT_EQ(again->GetSize(), 5);

    CPointSet* compare = sets.ReplaceCompareSet(NamedSet("/p/Compare.xyz", 1));
    EXPECT_TRUE(compare->isDiscrepancySet);
    CPointSet* bundle = sets.ReplaceBundleSet(NamedSet("/p/Bundle.xyz", 3));
    EXPECT_FALSE(bundle->isDiscrepancySet);
    EXPECT_EQ(sets.GetSize(), 4);
}

TEST(PointSetList, ArchiveRoundTripAndDamagedInput)
{
    CPointSetList stored;
    stored.AddCopy(NamedSet("/p/First.xyz", 3));
    stored.AddCopy(NamedSet("/p/Second.xyz", 0));
    stored.AddCopy(NamedSet("/p/Third.xyz", 2));
    stored.GetAt(2)->isControl = true;
    const std::string bytes = ExpectStoresAndReadsBack(stored, [&](const CPointSetList& back) {
        ASSERT_EQ(back.GetSize(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_STREQ(back.GetAt(i)->name.GetTitle().GetText(), stored.GetAt(i)->name.GetTitle().GetText());
            EXPECT_TRUE(back.GetAt(i)->IsEqual(*stored.GetAt(i)));
        }
        EXPECT_TRUE(back.GetAt(2)->isControl);
    }, 4);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x0a\0\0\0\x03\0\0\0", 8)) << "version 10, count 3";
    // Loaded sets are appended.
    CPointSetList loaded;
    loaded.AddCopy(NamedSet("/p/Existing.xyz"));
    LoadBytes(bytes, [&](CBinArchive& ar) {
        int version = -1;
        EXPECT_TRUE(loaded.Serialize(ar, &version));
    });
    EXPECT_EQ(loaded.GetSize(), 4);
}

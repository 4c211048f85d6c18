#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "PointSet.h"

namespace fs = std::filesystem;

// Coordinates of a kilometre and more in millimetres fill the 20 columns of a
// field with 12 decimals; they must still read back as separate numbers.
TEST(CoordinateWidth, WideValuesReadBackAsWritten)
{
    const fs::path folder = fs::temp_directory_path() / ("xyz-width-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string path = (folder / "wide.xyz").string();

    struct Row {
        const char* label;
        double x, y, z;
    };
    const Row rows[] = {{"A", 1234567.25, -123456.5, 98765432.125},
                        {"B", -9999999.75, 1000000.0, 0.5},
                        {"C", 1.25, -2.5, 3.75}};
    CPointSet written;
    for (const Row& r : rows) {
        const int i = written.AddNewPointSorted(CNameBuffer(r.label));
        ASSERT_GE(i, 0);
        CObjectPoint* p = written.GetAt(i);
        p->x = r.x, p->y = r.y, p->z = r.z;
    }
    ASSERT_TRUE(written.WriteXyzFile(path.c_str(), 12, 13, 7));

    CPointSet read;
    int fields = 0;
    ASSERT_TRUE(read.ReadXyzFile(path.c_str(), &fields));
    ASSERT_EQ(read.GetSize(), 3);
    for (const Row& r : rows) {
        const CObjectPoint* p = read.FindPointByText(r.label);
        ASSERT_NE(p, nullptr) << r.label;
        EXPECT_EQ(p->x, r.x) << r.label;
        EXPECT_EQ(p->y, r.y) << r.label;
        EXPECT_EQ(p->z, r.z) << r.label;
    }
    fs::remove_all(folder);
}

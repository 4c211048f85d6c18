// The temporary folder taken from $TMPDIR.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TempFiles.h"

TEST(TempFiles, FolderComesFromTmpdirWithoutTrailingSeparators)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    struct Case {
        const char* tmpdir; // null: unset
        const char* folder;
    };
    const Case cases[] = {{nullptr, P_tmpdir}, {"", P_tmpdir}, {"/var/tmp", "/var/tmp"}, {"/var/tmp//", "/var/tmp"}, {"/", "/"}};
    for (const Case& c : cases) {
        if (c.tmpdir)
            ::setenv("TMPDIR", c.tmpdir, 1);
        else
            ::unsetenv("TMPDIR");
        EXPECT_EQ(GetTempFolder(), c.folder) << (c.tmpdir ? c.tmpdir : "unset");
    }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

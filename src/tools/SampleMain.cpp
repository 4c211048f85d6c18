// kestrelon-sample <folder>: writes the sample project and its pictures into
// the folder, and the sample's scale bar into the profile's database.
#include <cstdio>
#include <string>

#include "SamplePictures.h"

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: kestrelon-sample <folder>\n");
        return 2;
    }
    std::string message;
    if (!WriteSample(argv[1], message)) {
        std::fprintf(stderr, "kestrelon-sample: %s\n", message.c_str());
        return 1;
    }
    return 0;
}

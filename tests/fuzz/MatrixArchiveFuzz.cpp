// Reads arbitrary bytes as a sequence of matrices and int vectors in their
// archive form. A read either succeeds within the input or fails the
// archive; small packed matrices that load are then factorised and inverted,
// which must report their outcome without crashing whatever the values.
#include "BinArchive.h"
#include "Matrix.h"
#include "Vector.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    std::stringbuf buffer(std::string(reinterpret_cast<const char*>(data), size), std::ios::in | std::ios::binary);
    CBinArchive archive(&buffer, std::ios::in | std::ios::binary);
    for (int step = 0; archive.good(); ++step) {
        if (step % 2 == 0) {
            CMatrix m;
            if (!m.Serialize(archive))
                break;
            if (m.GetStoredCount() * 8 > size)
                __builtin_trap();
            if (m.IsSymmetric() && m.GetRows() <= 64) {
                CMatrix c(m), l(m), inv(m), aug(m);
                CVector x;
                if (c.CholeskyDecompose())
                    c.SolveAugmentedCholesky(x);
                if (l.LdltDecompose()) {
                    l.SolveAugmentedUnit(x);
                    aug = l;
                    aug.InvertAugmentedFactor();
                }
                inv.InvertSymmetric(false);
            }
            if (m.GetRows() == 3)
                m.Invert3x3();
        } else {
            CIntVector v;
            if (!v.Serialize(archive))
                break;
            if (static_cast<size_t>(v.GetSize()) * 4 > size)
                __builtin_trap();
        }
    }
    return 0;
}

// The server-list page parser over the in-memory grid. Small inputs are also run
// through the plain cut-from-the-front parser, and the two grids must agree.
#include "core/browser/ServerListParser.h"
#include "core/grid/GridData.h"
#include "support/ReferenceParser.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    tarvex::GridData grid(2, 5);
    tarvex::ServerList::parsePage(page, grid);
    if (grid.Rows() < 2)
        std::abort();
    if (size <= 4096) {
        tarvex::GridData expected(2, 5);
        tarvex::test::referenceParsePage(page, expected);
        if (expected.Rows() != grid.Rows())
            std::abort();
        for (int r = 0; r < grid.Rows(); ++r) {
            if (expected.rowCells(r) != grid.rowCells(r))
                std::abort();
        }
    }
    return 0;
}

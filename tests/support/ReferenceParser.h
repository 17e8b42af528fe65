#pragma once

#include <QString>

namespace tarvex {
class IGrid;
namespace test {

// The list format's rules run the plain way: every cut copies what remains of the
// page. Quadratic in the page's size; used as the oracle the real parser is checked
// against, and as the baseline of the parser benchmark.
void referenceParsePage(const QString &page, IGrid &grid);

} // namespace test
} // namespace tarvex

// Opening the details window for the current server row.
#include "browser/frmTarvex.h"

namespace tarvex {

void frmTarvex::cmdMoreInfo_Click()
{
}

} // namespace tarvex

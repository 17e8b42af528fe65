// Locating the game and starting it on a double-click; sorting by a column title.
#include "browser/frmTarvex.h"

namespace tarvex {

void frmTarvex::mnuDirectory_Click()
{
}

void frmTarvex::Grid1_DblClick()
{
}

void frmTarvex::Grid1_MouseDown(int, int, double, double)
{
}

} // namespace tarvex

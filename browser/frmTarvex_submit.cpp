// Submitting a server address; the About box.
#include "browser/frmTarvex.h"

namespace tarvex {

void frmTarvex::Command1_Click()
{
}

void frmTarvex::mnuAbout_Click()
{
}

void frmTarvex::showAboutSplash()
{
}

} // namespace tarvex

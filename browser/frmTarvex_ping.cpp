// Pinging the listed servers through the window's Ping control.
#include "browser/frmTarvex.h"

namespace tarvex {

void frmTarvex::Ping()
{
}

void frmTarvex::cmdPing_Click()
{
    Ping();
}

void frmTarvex::cmdPingSelect_Click()
{
}

} // namespace tarvex

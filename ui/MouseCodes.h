#pragma once

#include <Qt>

namespace tarvex::ui {

// The codes a grid's MouseDown reports: buttons 1 left, 2 right, 4 middle; the shift
// state as 1 Shift, 2 Ctrl, 4 Alt, added together.
inline int shiftState(Qt::KeyboardModifiers modifiers)
{
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

inline int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

} // namespace tarvex::ui

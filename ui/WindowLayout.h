#pragma once

#include "core/grid/Grid.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

namespace tarvex {

// A control's geometry given in twips, in pixels.
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// The compact face of the program's windows: their layouts' widths are chosen so that
// every caption fits in it.
inline void setCompactFace(QWidget *widget)
{
    QFont face(QStringLiteral("DejaVu Sans Condensed"));
    face.setPointSizeF(8);
    widget->setFont(face);
}

} // namespace tarvex

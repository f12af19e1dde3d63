// The model's colours (Windows COLORREF: red in the low byte) as Qt colours.
#pragma once

#include <QBrush>
#include <QColor>

#include "window_model.h"

// CLR_DEFAULT gives an invalid colour: "whatever the palette says".
QColor qcolor_of(COLORREF colour);
// A cell background: no brush for CLR_DEFAULT, so the view paints the palette's base.
QBrush background_brush(COLORREF colour);

#pragma once
// The proportional Japanese Gothic of the protocol list and the progress
// dialog, at the pixel height the window's layout was drawn for. Glyph widths
// differ from one Gothic to the next, so where the widest of a place's own
// texts would not fit the room the layout gives it, the font is narrowed,
// never lowered and never cut. Main thread only.

#include <QFont>
#include <QStringList>

QFont ProportionalGothic(int pixelHeight);

// font, horizontally narrowed as little as it takes for every one of texts
// to fit within width pixels.
QFont NarrowedToFit(QFont font, const QStringList& texts, int width);

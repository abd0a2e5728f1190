#pragma once
// Words and numbers the views show.

#include "Studio/values.h"

#include <QSizeF>
#include <QString>

// "Vertical", "Horizontal", "Horizontal close-up", "Square", "Square close-up".
QString shapeTitle(Shape s);
// "9:16", "16:9" or "1:1".
QString aspectTag(Shape s);
// The output's pixel size at scale 1, as a proportion for drawing.
QSizeF shapeAspect(Shape s);
// Whole seconds (rounded) as minutes:seconds, minutes unbounded: 75.4 gives "1:15".
QString clock(double seconds);
// The path with the home folder at its start written as "~".
QString tilde(const QString& path, const QString& home);
QString tilde(const QString& path);
// "1 file" or "N files".
QString countFiles(int n);

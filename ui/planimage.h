// The switching plan as a picture: a lane per relay, the days across, on-times as bars, random
// windows shaded. Drawn with QPainter on a QImage, so it needs no screen (only a
// QGuiApplication for the fonts).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include "engine/schedule.h"

namespace tavoxa {

// `names` holds the relay names in relay order; missing or empty ones leave just the number.
QImage DrawPlanImage(const Plan& plan, const QStringList& names);

// Writes the picture as a PNG file, replacing it only once it is complete. On failure returns
// false and says why in `error` (when given).
bool SavePlanImage(const Plan& plan, const QStringList& names, const QString& path, QString* error);

}  // namespace tavoxa

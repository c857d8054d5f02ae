#include "ui/planimage.h"

#include <QPainter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "engine/clock.h"

namespace tavoxa {
namespace {

constexpr int kLabelWidth = 150;
constexpr int kDayWidth = 168;
// A plan of a day or two is drawn wider, so the title and the legend fit and the hours can be told
// apart: the days share at least this width.
constexpr int kMinLanesWidth = 660;
constexpr int kTitleHeight = 30;
constexpr int kHeaderHeight = 40;
constexpr int kLaneHeight = 40;
constexpr int kLegendHeight = 34;
constexpr int kMargin = 10;

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

const QColor kOnColour(46, 139, 87);
const QColor kWindowColour(240, 170, 60);
const QColor kPastColour(0, 0, 0, 22);
const QColor kGridColour(210, 210, 210);
const QColor kDayLineColour(120, 120, 120);

QString DateLabel(double day)
{
    const LocalDateTime t = FromDateTime(day);
    return QStringLiteral("%1 %2-%3-%4")
        .arg(QLatin1String(kWeekdays[DayOfWeek(day)]))
        .arg(t.year, 4, 10, QLatin1Char('0'))
        .arg(t.month, 2, 10, QLatin1Char('0'))
        .arg(t.day, 2, 10, QLatin1Char('0'));
}

QString Stamp(double at)
{
    const LocalDateTime t = FromDateTime(at);
    return QStringLiteral("%1-%2-%3 %4")
        .arg(t.year, 4, 10, QLatin1Char('0'))
        .arg(t.month, 2, 10, QLatin1Char('0'))
        .arg(t.day, 2, 10, QLatin1Char('0'))
        .arg(QString::fromStdString(TimeText(at)));
}

void DrawWindow(QPainter& p, const QRectF& r)
{
    QColor fill = kWindowColour;
    fill.setAlpha(90);
    p.fillRect(r, fill);
    p.fillRect(r, QBrush(kWindowColour.darker(120), Qt::BDiagPattern));
}

}  // namespace

QImage DrawPlanImage(const Plan& plan, const QStringList& names)
{
    const double firstDay = DatePart(plan.from);
    const int days = std::max(1, static_cast<int>(std::ceil(plan.to - firstDay - 1e-9)));
    const double dayWidth = std::max<double>(kDayWidth, static_cast<double>(kMinLanesWidth) / days);
    // Grid hours: every 6 h on a week's narrow days, every 3 or 2 h on wider ones.
    const int gridHours = dayWidth >= 480 ? 2 : dayWidth >= 300 ? 3 : 6;
    const int width = kMargin + kLabelWidth + static_cast<int>(std::ceil(days * dayWidth)) + kMargin;
    const int lanesTop = kMargin + kTitleHeight + kHeaderHeight;
    const int height = lanesTop + kRelayCount * kLaneHeight + kLegendHeight + kMargin;
    const double left = kMargin + kLabelWidth;
    const auto xOf = [&](double at) { return left + (at - firstDay) * dayWidth; };

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);

    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(14);
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(QRectF(kMargin, kMargin, width - 2 * kMargin, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Switching plan from %1 to %2").arg(Stamp(plan.from), Stamp(plan.to)));
    p.setFont(font);

    const double lanesBottom = lanesTop + kRelayCount * kLaneHeight;
    const double headerTop = kMargin + kTitleHeight;

    // Lanes in alternating shades, then the time grid over them.
    for (int r = 0; r < kRelayCount; ++r) {
        const QRectF lane(kMargin, lanesTop + r * kLaneHeight, width - 2 * kMargin, kLaneHeight);
        if (r % 2 == 1)
            p.fillRect(lane, QColor(246, 246, 250));
    }
    p.fillRect(QRectF(left, headerTop, xOf(plan.from) - left, lanesBottom - headerTop), kPastColour);
    for (int d = 0; d < days; ++d) {
        const double x = left + d * dayWidth;
        p.setPen(Qt::black);
        p.drawText(QRectF(x, headerTop, dayWidth, 20), Qt::AlignCenter, DateLabel(firstDay + d));
        for (int h = gridHours; h < 24; h += gridHours) {
            const double hx = x + h * dayWidth / 24.0;
            p.setPen(kGridColour);
            p.drawLine(QPointF(hx, headerTop + 34), QPointF(hx, lanesBottom));
            p.setPen(Qt::darkGray);
            p.drawText(QRectF(hx - 20, headerTop + 20, 40, 14), Qt::AlignCenter,
                       QStringLiteral("%1:00").arg(h, 2, 10, QLatin1Char('0')));
        }
        p.setPen(kDayLineColour);
        p.drawLine(QPointF(x, headerTop), QPointF(x, lanesBottom));
    }
    p.drawLine(QPointF(left + days * dayWidth, headerTop), QPointF(left + days * dayWidth, lanesBottom));
    p.drawLine(QPointF(kMargin, lanesTop), QPointF(width - kMargin, lanesTop));

    for (int r = 0; r < kRelayCount; ++r) {
        const RelayPlan& rp = plan.relays[static_cast<size_t>(r)];
        const double top = lanesTop + r * kLaneHeight;
        QString label = QString::number(r + 1);
        if (r < names.size() && !names[r].isEmpty())
            label += QLatin1Char(' ') + names[r];
        const bool known = rp.mode >= 0 && rp.mode < static_cast<int32_t>(kModeNames.size());
        p.setPen(Qt::black);
        p.setFont(bold);
        p.drawText(QRectF(kMargin + 4, top + 3, kLabelWidth - 8, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(label, Qt::ElideRight, kLabelWidth - 8));
        p.setFont(font);
        p.setPen(Qt::darkGray);
        p.drawText(
            QRectF(kMargin + 4, top + 20, kLabelWidth - 8, 16), Qt::AlignLeft | Qt::AlignVCenter,
            known ? QString::fromLatin1(kModeNames[static_cast<size_t>(rp.mode)]) : QStringLiteral("?"));

        const QRectF band(0, top + 8, 0, kLaneHeight - 16);
        for (const PlannedWindow& w : rp.windows)
            DrawWindow(
                p, QRectF(xOf(w.from), band.top(), std::max(1.0, xOf(w.to) - xOf(w.from)), band.height()));
        for (const OnInterval& on : OnIntervals(plan, r))
            p.fillRect(
                QRectF(xOf(on.from), band.top(), std::max(2.0, xOf(on.to) - xOf(on.from)), band.height()),
                kOnColour);
        if (rp.mode != ModeTimer && rp.mode != ModeRandom) {
            p.setPen(Qt::black);
            p.drawText(QRectF(xOf(plan.from) + 6, top, width, kLaneHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromStdString(rp.summary));
        }
        p.setPen(kGridColour);
        p.drawLine(QPointF(kMargin, top + kLaneHeight), QPointF(width - kMargin, top + kLaneHeight));
    }

    // Legend.
    const double ly = lanesBottom + 10;
    p.fillRect(QRectF(left, ly, 28, 14), kOnColour);
    p.setPen(Qt::black);
    p.drawText(QRectF(left + 34, ly - 2, 80, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("on"));
    DrawWindow(p, QRectF(left + 90, ly, 28, 14));
    p.drawText(QRectF(left + 124, ly - 2, 320, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("random window (switches at random inside)"));
    p.fillRect(QRectF(left + 440, ly, 28, 14), kPastColour);
    p.drawText(QRectF(left + 474, ly - 2, 120, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("past"));
    return image;
}

bool SavePlanImage(const Plan& plan, const QStringList& names, const QString& path, QString* error)
{
    QSaveFile file(path);
    const QImage image = DrawPlanImage(plan, names);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

}  // namespace tavoxa

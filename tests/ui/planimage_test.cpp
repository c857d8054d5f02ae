// The plan picture of a short plan stays readable: its title and legend have room.
#include "ui/planimage.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include "engine/schedule.h"

namespace tavoxa {
namespace {

TEST(PlanImage, TitleAndLegendFitForOneAndTwoDays)
{
    QFont bold;
    bold.setBold(true);
    bold.setPixelSize(14);
    const int title = QFontMetrics(bold).horizontalAdvance(
        QStringLiteral("Switching plan from 2026-12-09 16:45:12 to 2026-12-11 00:00:00"));
    for (const int days : {1, 2}) {
        const QImage image = DrawPlanImage(PlanSwitchings(Model{}, {2026, 12, 9, 16, 45, 12, 0}, days), {});
        EXPECT_GT(image.width(), title + 20) << days << " days";
        // The legend's last entry ends some 600 px past the relay names (150 px).
        EXPECT_GE(image.width(), 160 + 640) << days << " days";
    }
}

}  // namespace
}  // namespace tavoxa

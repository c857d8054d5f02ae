// The plan picture of a short plan stays readable: its title has room whatever the days.
#include "ui/planimage.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include "engine/schedule.h"

namespace tavoxa {
namespace {

TEST(PlanImage, TitleAndLegendFitForOneTwoAndSevenDays)
{
    const LocalDateTime afternoon{2026, 12, 9, 16, 45, 12, 0};
    int weekWidth = 0;
    for (const int days : {7, 2, 1}) {
        Model model;
        const Plan plan = PlanSwitchings(model, afternoon, days);
        const QImage image = DrawPlanImage(plan, {});
        QFont bold;
        bold.setBold(true);
        bold.setPixelSize(14);
        const int title = QFontMetrics(bold).horizontalAdvance(
            QStringLiteral("Switching plan from 2026-12-09 16:45:12 to 2026-12-11 00:00:00"));
        EXPECT_GT(image.width(), title + 20) << days << " days";
        // The legend's last entry ends some 600 px past the relay names (150 px).
        EXPECT_GE(image.width(), 160 + 640) << days << " days";
        if (days == 7)
            weekWidth = image.width();
        else
            EXPECT_LE(image.width(), weekWidth) << "a short plan is not wider than a week's";
    }
}

}  // namespace
}  // namespace tavoxa

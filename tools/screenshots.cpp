// Takes the README's pictures: the main window, the help window, the IP dialog and the board
// window of the simulated program, each saved as a PNG in the folder given as first argument.
// With "en" as second argument the window, the help and the IP dialog are drawn in English
// instead, as main-window-en.png, help-window-en.png and ip-dialog-en.png.
// Run it under Xvfb (tools/screenshots.sh) so the windows are drawn by a real X server.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "adapter/i2c.h"
#include "adapter/simboard.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "engine/schedule.h"
#include "storage/configfile.h"
#include "ui/boardwindow.h"
#include "ui/errorreport.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/planimage.h"
#include "ui/windowlanguage.h"

namespace {

// A sample set-up: names in swcf.ini and a configuration with several modes in use.
void WriteSample(const QString& dir)
{
    using namespace tavoxa;
    Model m;
    m.RelayMode(0) = ModeToggle;
    m.RelayMode(1) = ModeTimer;
    m.DayCode(1, 0) = DayMonToFri;
    m.ProgramStart(1, 0) = EncodeTime(6, 30, 0);
    m.ProgramEnd(1, 0) = EncodeTime(7, 45, 0);
    m.DayCode(1, 1) = DaySatSun;
    m.ProgramStart(1, 1) = EncodeTime(8, 0, 0);
    m.ProgramEnd(1, 1) = EncodeTime(9, 30, 0);
    m.DayCode(1, 2) = DayEveryDay;
    m.ProgramStart(1, 2) = EncodeTime(17, 15, 0);
    m.ProgramEnd(1, 2) = EncodeTime(19, 0, 0);
    m.RelayMode(2) = ModeIfK1;
    m.RelayMode(3) = ModeSecondsTimer;
    m.SecondsTimer[3] = {1, 30, 60, 0};
    m.RelayMode(4) = ModeRandom;
    m.WindowMaxMinutes(4, 0) = 10;
    m.WindowStart(4, 0) = EncodeTime(18, 0, 0);
    m.WindowEnd(4, 0) = EncodeTime(23, 0, 0);
    m.RelayMode(5) = ModeClock;
    QFile config(dir + "/haus.dat");
    if (config.open(QIODevice::WriteOnly))
        config.write(QByteArray::fromStdString(WriteConfiguration(m, 1, 0x20)));
    QFile settings(dir + "/swcf.ini");
    if (settings.open(QIODevice::WriteOnly))
        settings.write(
            "haus.dat\r\n\r\n26535\r\nLicht\r\nPumpe\r\nTor\r\nBlink\r\nHaus\r\nUhr\r\nT\xc3\xbcr\r\n"
            "Fenst\r\n0\r\n");
}

void Save(QWidget& w, const QString& path)
{
    if (!w.grab().save(path))
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Tavoxa");
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath()).absolutePath();
    const bool english = argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("en");
    const QString suffix = english ? QStringLiteral("-en.png") : QStringLiteral(".png");
    const tavoxa::WindowLanguage language(english ? QStringLiteral("en") : QStringLiteral("de"));
    QTemporaryDir work;
    WriteSample(work.path());
    QDir::setCurrent(work.path());

    tavoxa::SystemClock clock;
    tavoxa::LcgRandom random;
    tavoxa::SteadyBusDelay delay;
    tavoxa::SimulatedBoard board;
    board.SetK1Closed(true);
    tavoxa::MessageBoxReport report;
    tavoxa::RelayController core(board, clock, random, delay, report);
    tavoxa::TForm1 form1(core);
    tavoxa::TForm2 form2(&form1, language.language());
    tavoxa::TForm3 form3(core.remoteSwitch().settings(), &form1);
    core.Startup();
    tavoxa::BoardWindow boardWindow(board);
    form1.show();
    boardWindow.show();

    // Let the exchange run long enough for the inputs to settle and the clock to show.
    QTimer::singleShot(1500, [&] {
        core.Switch({{0, tavoxa::RelayAction::Toggle}},
                    tavoxa::SwitchCause{tavoxa::CauseKind::TButton, 0, {}});
        QTimer::singleShot(300, [&] {
            Save(form1, out + "/main-window" + suffix);
            if (!english)
                Save(boardWindow, out + "/board-window.png");
            form2.show();
            form3.Refill();
            form3.show();
            QTimer::singleShot(300, [&] {
                Save(form2, out + "/help-window" + suffix);
                Save(form3, out + "/ip-dialog" + suffix);
                if (english) {
                    app.quit();
                    return;
                }
                // The plan of the coming week of the same set-up, as `tavoxa --plan-image` draws it.
                QStringList names;
                for (int r = 0; r < tavoxa::kRelayCount; ++r)
                    names << core.files().Name(r);
                QString why;
                const QString plan = out + "/plan.png";
                if (tavoxa::SavePlanImage(tavoxa::PlanSwitchings(core.model(), clock.Now(), 7), names, plan,
                                          &why))
                    std::printf("%s\n", qPrintable(plan));
                else
                    std::fprintf(stderr, "screenshots: %s\n", qPrintable(why));
                app.quit();
            });
        });
    });
    return app.exec();
}

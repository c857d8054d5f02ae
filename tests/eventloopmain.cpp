// The main of test programs whose code runs on the event loop (sockets, timers, widgets): the
// application object, so the tests can turn the loop while they wait. Widget tests run on the
// offscreen platform unless another is asked for.
#include <gtest/gtest.h>

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#else
#include <QCoreApplication>
#endif

int main(int argc, char** argv)
{
#ifdef QT_WIDGETS_LIB
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

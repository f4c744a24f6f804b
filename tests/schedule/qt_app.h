// The one Qt application object the tests share, drawing offscreen.
#pragma once

#include <QApplication>

namespace kelvo::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "schedule_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace kelvo::test

#pragma once

#include <QApplication>

namespace kestro::testing {

// One QApplication for the suite, made on first use and kept until the process ends.
inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "kestro-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

} // namespace kestro::testing

#include "Kestro/program/Application.h"
#include "Kestro/program/SelfTest.h"

int main(int argc, char** argv) {
    // Decided before anything of the desktop is touched, so it runs without a display.
    if (kestro::SelfTest::requested(argc, argv)) {
        return kestro::SelfTest::run();
    }
    return kestro::runApplication(argc, argv);
}

// Quenloft: a small web server for one person's desktop.
#include "ui/modProgram.h"

int main(int argc, char** argv) {
    return quenloft::RunProgram(argc, argv, QUENLOFT_BUILD_FOLDER);
}

// Quenloft: a small web server for one person's desktop.
#include "ui/modProgram.h"

int main(int, char** argv) {
    return quenloft::RunProgram(argv[0]);
}

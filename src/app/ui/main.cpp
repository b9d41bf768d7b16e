#include "app/ui/MainProgram.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "orvo-provision-tool: no display found (DISPLAY is not set); start it in a "
                     "desktop session, or with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    return RunOrvoProvisionTool(argc, argv);
}

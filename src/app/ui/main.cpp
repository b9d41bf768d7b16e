#include "app/ui/MainProgram.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (const std::optional<QByteArray> text = InformationRequested(argc, argv)) {
        std::fwrite(text->constData(), 1, static_cast<size_t>(text->size()), stdout);
        return 0;
    }
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "orvo-provision-tool: no display found (DISPLAY is not set); start it in a "
                     "desktop session, or with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    return RunOrvoProvisionTool(argc, argv);
}

// vkt: the network reachability monitor daemon. It reads no arguments.
#include "daemon/vktapp.h"

#include <cstdio>
#include <exception>

int main() {
    try {
        return RunDaemon();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vkt: %s\n", e.what());
        return 1;
    }
}

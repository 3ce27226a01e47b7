// vkt-datutil: back up, restore, clear and inspect the daemon's tables from the command line.
#include "daemon/tfrmdatutil.h"
#include "datutil/datutilcli.h"
#include "datutil/datutilexit.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    try {
        return RunDatUtilCli(argc, argv, RunDatUtilTableCommand);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vkt-datutil: %s\n", e.what());
        return ExitRefused;
    }
}

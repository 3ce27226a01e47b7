// autocall: the command-line client of in-process automation servers.
#include "quorrabox/autocall/autocall.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = RunAutocall(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}

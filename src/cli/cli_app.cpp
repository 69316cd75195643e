#include "cli/cli_app.h"

#include <cstdio>

namespace cli {

int run(int, char**) {
    std::fputs("quenvol-cli: not built yet\n", stderr);
    return 2;
}

}  // namespace cli

#include "cli/cli_app.h"

int main(int argc, char** argv) {
    return cli::run(argc, argv);
}

// `tarvo demo --out FILE.wav`: renders a short demonstration of the engine.
#include "tools/Command.h"

#include <cstdio>

namespace tarvo::tool {
namespace {

int runDemo(const std::vector<std::string>& args) {
    std::string out;
    if (!flagValue(args, "--out", out)) {
        std::fputs("tarvo demo: --out FILE.wav is required\n", stderr);
        return 2;
    }
    std::fputs("tarvo demo: the engine does not render yet\n", stderr);
    return 0;
}

const CommandRegistration registration("demo", "--out FILE.wav", runDemo);

} // namespace
} // namespace tarvo::tool

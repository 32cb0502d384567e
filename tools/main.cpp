#include "tools/Command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace tarvo::tool {

namespace {

struct Entry {
    const char* usage;
    CommandFn run;
};

std::map<std::string, Entry>& commands() {
    static std::map<std::string, Entry> table;
    return table;
}

int printUsage() {
    std::fputs("usage: tarvo --version | tarvo <command> [arguments]\ncommands:\n", stderr);
    for (const auto& [name, entry] : commands()) std::fprintf(stderr, "  %s %s\n", name.c_str(), entry.usage);
    return 2;
}

} // namespace

CommandRegistration::CommandRegistration(const char* name, const char* usage, CommandFn run) {
    commands()[name] = Entry{usage, run};
}

bool flagValue(const std::vector<std::string>& args, const std::string& flag, std::string& value) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == flag) {
            value = args[i + 1];
            return true;
        }
    }
    return false;
}

bool numberFlag(const std::vector<std::string>& args, const char* flag, double lowest, double highest,
                bool wholeOnly, double& value) {
    std::string text;
    if (!flagValue(args, flag, text)) return true;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || !std::isfinite(parsed) || parsed < lowest ||
        parsed > highest || (wholeOnly && parsed != std::floor(parsed)))
        return false;
    value = parsed;
    return true;
}

bool hasFlag(const std::vector<std::string>& args, const std::string& flag) {
    for (const auto& a : args)
        if (a == flag) return true;
    return false;
}

} // namespace tarvo::tool

int main(int argc, char** argv) {
    using namespace tarvo::tool;
    if (argc < 2) return printUsage();
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarvo %s\n", TARVO_VERSION_STRING);
        return 0;
    }
    const auto found = commands().find(argv[1]);
    if (found == commands().end()) {
        std::fprintf(stderr, "tarvo: unknown command '%s'\n", argv[1]);
        return printUsage();
    }
    return found->second.run(std::vector<std::string>(argv + 2, argv + argc));
}

#pragma once
// The `tarvo` tool's command table. Each command lives in its own file and registers
// itself with a file-scope `CommandRegistration`, so adding a command touches no other file.
// Commands that print JSON print it on standard output and nothing else there; errors go
// to standard error and give a non-zero exit code.

#include <string>
#include <vector>

namespace tarvo::tool {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandRegistration {
    CommandRegistration(const char* name, const char* usage, CommandFn run);
};

// Returns the value after `flag` in args (and true), or false when the flag is absent.
bool flagValue(const std::vector<std::string>& args, const std::string& flag, std::string& value);
bool hasFlag(const std::vector<std::string>& args, const std::string& flag);
// Reads a number flag; absent leaves value as it is. False when present but not a number
// within lowest..highest (and whole, when wholeOnly).
bool numberFlag(const std::vector<std::string>& args, const char* flag, double lowest, double highest,
                bool wholeOnly, double& value);

} // namespace tarvo::tool

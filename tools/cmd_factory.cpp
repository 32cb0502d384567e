// `tarvo factory-install`: writes the built-in factory sounds and presets to the user's
// folders where they are missing (never overwriting a file) and prints what happened as
// JSON. `--list` prints the built-in files instead and writes nothing.
#include <cstdio>

#include "tools/Command.h"
#include "tools/Json.h"
#include "tools/factory/FactoryContent.h"

namespace tarvo::tool {
namespace {

int runFactoryInstall(const std::vector<std::string>& args) {
    const bool listOnly = hasFlag(args, "--list");
    if (args.size() != (listOnly ? 1u : 0u)) {
        std::fputs("usage: tarvo factory-install [--list]\n", stderr);
        return 2;
    }
    const FactoryContent& content = factoryContent();
    JsonWriter json;
    json.beginObject();
    json.key("version").value(content.version);
    if (listOnly) {
        json.key("files").beginArray();
        for (const FactoryFile& file : content.files) {
            json.beginObject();
            json.key("folder").value(file.folder == Folder::Sounds ? "sounds" : "presets");
            json.key("path").value(file.path);
            json.key("size").value(static_cast<long long>(file.size));
            json.endObject();
        }
        json.endArray().endObject();
        json.print();
        return 0;
    }
    const FactoryInstallReport report = installFactoryContent(content);
    json.key("upToDate").value(report.upToDate);
    json.key("written").value(report.written);
    json.key("kept").value(report.kept);
    json.key("failed").value(report.failed);
    json.endObject();
    json.print();
    if (report.failed > 0) {
        std::fprintf(stderr, "tarvo factory-install: %s\n", report.error.c_str());
        return 1;
    }
    return 0;
}

const CommandRegistration registration("factory-install", "[--list]", runFactoryInstall);

} // namespace
} // namespace tarvo::tool

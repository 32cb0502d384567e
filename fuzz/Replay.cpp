// Runs a fuzz target's entry point over kept inputs outside libFuzzer, so that the normal
// test run (and the sanitizer stage) replays every kept corpus and every input that once
// broke something. Usage: replay_<Name> FILE|FOLDER...; a missing folder is skipped. An
// input that breaks an invariant aborts, as it does under the fuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

int replayFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "replay: %s\n", file.c_str());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) inputs.push_back(std::filesystem::absolute(entry.path()));
        } else if (std::filesystem::is_regular_file(path)) {
            inputs.push_back(std::filesystem::absolute(path));
        }
    }
    std::sort(inputs.begin(), inputs.end());
    // Some targets change the working folder when they start; every path is absolute by now.
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (const auto& file : inputs) replayed += replayFile(file);
    std::printf("replayed %d inputs\n", replayed);
    return 0;
}

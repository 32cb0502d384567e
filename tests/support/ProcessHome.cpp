// Every test process gets a home folder of its own below the one ctest names, so tests that
// ctest runs side by side never share files. The folder goes away when the process ends.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

class ProcessHome {
public:
    ProcessHome() {
        const char* outer = std::getenv("TARVO_HOME");
        const std::filesystem::path base = outer != nullptr && outer[0] != '\0'
                                               ? std::filesystem::path(outer)
                                               : std::filesystem::temp_directory_path() / "tarvo-test-home";
        folder_ = base / ("process-" + std::to_string(::getpid()));
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
        std::filesystem::create_directories(folder_, error);
        ::setenv("TARVO_HOME", folder_.c_str(), 1);
    }
    ~ProcessHome() {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }

private:
    std::filesystem::path folder_;
};

const ProcessHome processHome;

} // namespace

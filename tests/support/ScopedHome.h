#pragma once
// Points TARVO_HOME at a fresh, empty folder for one test and restores it afterwards, so file
// tests never share folders with each other or touch a user's files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarvo::test {

class ScopedHome {
public:
    ScopedHome() {
        const char* outer = std::getenv("TARVO_HOME");
        if (outer != nullptr) saved_ = outer;
        hadHome_ = outer != nullptr;
        const std::filesystem::path base = hadHome_
                                               ? std::filesystem::path(saved_)
                                               : std::filesystem::temp_directory_path() / "tarvo-test-home";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf =
            info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "scoped";
        for (char& c : leaf)
            if (c == '/') c = '_';
        path_ = base / "scoped" / leaf;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        setenv("TARVO_HOME", path_.c_str(), 1);
    }
    ~ScopedHome() {
        if (hadHome_)
            setenv("TARVO_HOME", saved_.c_str(), 1);
        else
            unsetenv("TARVO_HOME");
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string saved_;
    bool hadHome_ = false;
};

} // namespace tarvo::test

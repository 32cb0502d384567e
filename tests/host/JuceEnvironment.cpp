// JUCE's message manager for the whole test binary: plug-in hosting and parameter
// notifications need it on the main thread, which runs every test. It is shut down when the
// tests end, before static destruction, so that JUCE's own singletons go first.

#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace tarvo {
namespace {

class JuceEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initialiser_ = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
    void TearDown() override { initialiser_.reset(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> initialiser_;
};

// Registered before main runs the tests; gtest owns the environment.
[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new JuceEnvironment);

} // namespace
} // namespace tarvo

// Temporary directories for the tests (see TempDirectory.h), the same on Linux and Windows.
#include "support/TempDirectory.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace test_support {

namespace {
// Random names collide only by bad luck; a few tries settle it.
constexpr int kAttempts = 100;
}

TempDirectory::TempDirectory(std::string_view prefix)
{
    std::random_device random;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::filesystem::path candidate = std::filesystem::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(random()));
        std::error_code taken;
        if (std::filesystem::create_directory(candidate, taken)) {
            // The owner's alone, as a runtime or configuration directory must be.
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, taken);
            m_path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory for " + std::string(prefix));
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace test_support

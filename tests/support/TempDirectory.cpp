// Temporary directories for the tests (see TempDirectory.h).
#include "support/TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace test_support {

TempDirectory::TempDirectory(std::string_view prefix)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory from " + pattern);
    m_path = pattern;
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace test_support

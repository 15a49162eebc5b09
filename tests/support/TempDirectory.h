// A fresh directory under the system's temporary one ($TMPDIR or /tmp; TEMP on Windows) that lives as long as the object and is removed
// with everything in it afterwards. Tests keep their files, program directories and
// configuration homes in these, so no run ever touches the real home or the build tree.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

class TempDirectory {
public:
    // The directory's name starts with `prefix`.
    explicit TempDirectory(std::string_view prefix);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace test_support

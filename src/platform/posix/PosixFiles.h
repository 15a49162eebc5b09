// The program's directory and its files on POSIX (runtime/Files.h): /proc/self/exe, lstat
// and glob, and reads that open only regular files, without blocking.
#pragma once

#include "runtime/Files.h"

class PosixFiles final : public Files {
public:
    std::string programDirectory() const override;
    bool fileExists(std::string_view path) const override;
    bool changeDirectory(std::string_view directory) const override;

protected:
    char pathSeparator() const override { return '/'; }
    FileRead readRegularFile(std::string_view path, uint64_t sizeLimit) const override;
};

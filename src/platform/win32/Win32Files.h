// The program's directory and its files on Win32 (runtime/Files.h), through the wide API:
// paths arrive as code page 936 texts and are converted, so they work on a Windows of any
// language.
#pragma once

#include "runtime/Files.h"

class Win32Files final : public Files {
public:
    std::string programDirectory() const override;
    bool fileExists(std::string_view path) const override;
    bool changeDirectory(std::string_view directory) const override;

protected:
    char pathSeparator() const override { return '\\'; }
    FileRead readRegularFile(std::string_view path, uint64_t sizeLimit) const override;
};

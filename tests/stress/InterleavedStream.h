// What one client of a busy room receives, checked as it arrives: one client's stream of
// pattern bytes (letters only), with whole texts of others (lines, leave notices, probes, each
// starting with a byte outside the pattern's alphabet) between its chunks. The relay passes
// every chunk whole, so each text must turn up intact and the pattern must go on exactly where
// it left off around it; anything else is a fault, kept as the first failure.
//
// Fed by a reader thread and asked by the test's thread, so every member locks.
#pragma once

#include "BytePattern.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class InterleavedStream {
public:
    struct Sighting {
        std::string text;
        uint64_t patternOffset; // pattern bytes received before the text
    };

    // `texts`: every text that may arrive; none may be the beginning of another.
    InterleavedStream(const BytePattern& pattern, std::vector<std::string> texts);

    void feed(std::string_view bytes);

    uint64_t patternBytes() const;
    std::vector<Sighting> sightings() const;
    size_t timesSeen(std::string_view text) const;
    // Empty while every byte fits.
    std::string failure() const;

private:
    void fail(std::string what);

    const BytePattern& m_pattern;
    const std::vector<std::string> m_texts;
    mutable std::mutex m_mutex;
    uint64_t m_offset = 0;
    // The beginning of a text, while it arrives in pieces.
    std::string m_partial;
    std::vector<Sighting> m_sightings;
    std::string m_failure;
};

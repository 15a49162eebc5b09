// The input of the streaming readers' targets: a piece size and the bytes, which a reader must
// read to the same result whole and cut into pieces of that size.
#pragma once

#include "FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <utility>

struct PiecedInput {
    size_t piece = 1;
    std::string bytes;

    // The readings of `read(bytes, piece)` of the bytes whole and cut.
    template<class Read>
    auto readWholeAndCut(Read read) const { return std::pair { read(bytes, bytes.size() + 1), read(bytes, piece) }; }
    void print() const
    {
        fuzzPrintBytes("input", bytes);
        fuzzPrintNumber("piece", static_cast<long long>(piece));
    }
};

// The first bytes choose the piece size (1 to maxPiece), the rest are the bytes.
inline PiecedInput takePiecedInput(const uint8_t* data, size_t size, size_t maxPiece)
{
    FuzzedDataProvider provider(data, size);
    size_t piece = provider.ConsumeIntegralInRange<size_t>(1, maxPiece);
    return { piece, provider.ConsumeRemainingBytesAsString() };
}

// Text through encodeFileText, with the input read as UTF-8 (bad bytes as
// U+FFFD). Mutating UTF-8 reaches whole characters, Japanese text and the
// characters glibc maps to look-alikes far more often than mutating raw
// UTF-16 units does, so this is where the choice between CP932 and UTF-8 gets
// most of its exercise.

#include "fuzz_support.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::checkEncode(QString::fromUtf8(fuzz::bytesOf(data, size)));
    return 0;
}

// Arbitrary text through encodeFileText, the path every saved file takes.
// The input is read as UTF-16 code units in host order, so every unit value
// occurs, unpaired surrogates included, which no decoded file contains but
// text typed or pasted into the editor can.

#include "fuzz_support.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, (size / 2) * 2);
    fuzz::checkEncode(text);
    return 0;
}

// Arbitrary text through encodeFileText, the path every saved file takes.
// With the first byte even, the rest is read as UTF-16 code units in host
// order, so that every unit occurs, lone surrogates included: no decoded file
// holds one, but text pasted into the editor can. With it odd, the rest is
// read as UTF-8, because mutating that reaches whole Japanese characters and
// the characters CP932 maps to look-alikes far more often.

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char*>(data + 1),
                              static_cast<qsizetype>(size - 1));
    QString text;
    if (data[0] & 1) {
        text = QString::fromUtf8(rest);
    } else {
        text.resize(rest.size() / 2);
        std::memcpy(text.data(), rest.data(), static_cast<std::size_t>(text.size()) * 2);
    }
    fuzz::checkEncode(text);
    return 0;
}

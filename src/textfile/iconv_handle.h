#pragma once

#include <cstddef>
#include <cstdint>

#include <iconv.h>

namespace rt::codec {

// Owns one iconv conversion descriptor. A descriptor carries shift state, so
// each conversion gets its own instead of sharing one between threads.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return cd_ != invalid(); }

    // Converts as much as possible; returns false with errno set when iconv
    // stopped early.
    bool convert(const char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
        return iconv(cd_, const_cast<char**>(in), inLeft, out, outLeft) !=
               static_cast<std::size_t>(-1);
    }

    // Writes out what the descriptor still holds back at the end of its
    // input.
    bool flush(char** out, std::size_t* outLeft) {
        return iconv(cd_, nullptr, nullptr, out, outLeft) != static_cast<std::size_t>(-1);
    }

    // Back to the initial state after an error, so that the bytes after a
    // bad one are read as if they started the input.
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    // iconv_open() reports failure with the all-ones handle; comparing with
    // it needs this one cast.
    static iconv_t invalid() {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    }

    iconv_t cd_;
};

} // namespace rt::codec

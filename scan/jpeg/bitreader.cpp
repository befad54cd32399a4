#include "scan/jpeg/bitreader.h"

namespace velo::jpeg
{

void BitReader::fill(Source& source)
{
    while (s_.count <= 56 && s_.marker == 0) {
        if (next_ == end_) {
            const std::span<const std::uint8_t> more = source.more(*this);
            if (more.empty())
                return;
            next_ = more.data();
            end_ = next_ + more.size();
        }
        const std::uint8_t b = *next_++;
        ++pos_;
        if (s_.afterFF) {
            if (b == 0x00) {
                s_.afterFF = false;
                s_.bits |= std::uint64_t(0xFF) << (56 - s_.count);
                s_.count += 8;
            } else if (b != 0xFF) {
                s_.afterFF = false;
                s_.marker = b;
                s_.markerAt = pos_ - 2;
            }
        } else if (b == 0xFF) {
            s_.afterFF = true;
        } else {
            s_.bits |= std::uint64_t(b) << (56 - s_.count);
            s_.count += 8;
        }
    }
}

} // namespace velo::jpeg

// The picture decoder on arbitrary bytes: it must return (true or false) without ending the
// process, and a decoded picture must hold exactly its pixels.
#include "presentation/controls/jpegcodec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TJpegImage image;
    std::string error;
    if (DecodeJpeg(data, size, image, &error)) {
        if (image.width <= 0 || image.height <= 0 || image.width > kMaxJpegSide || image.height > kMaxJpegSide
            || image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3)
            std::abort();
    } else if (!image.rgb.empty() || error.empty()) {
        std::abort();
    }
    return 0;
}

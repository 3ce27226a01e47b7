// JPEG decoding with libjpeg's C API, for the About window's product picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TJpegImage {
    int Width = 0;
    int Height = 0;
    /// Rows top to bottom, 3 bytes (R, G, B) per pixel.
    std::vector<std::uint8_t> Rgb;
};

/// Decodes a JPEG held in memory. A corrupt or truncated picture returns false with the
/// decoder's message in `error`; it never ends the program.
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, TJpegImage& image, std::string& error);

// libjpeg decoder. libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the setjmp point here, and the decoder is destroyed there.
#include "gui/jpegimage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Counts warnings (a picture whose data ends early is one) without printing them.
void QuietWarning(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

} // namespace

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, TJpegImage& image, std::string& error) {
    image = TJpegImage{};
    if (!data || size == 0) {
        error = "empty JPEG data";
        return false;
    }
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = QuietWarning;
    std::vector<std::uint8_t>& rgb = image.Rgb; // its storage survives the jump; only its size is reset
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        error = err.message;
        rgb.clear();
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 3;
    rgb.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    // A picture whose data ended early is padded by libjpeg with a warning; count it as corrupt.
    const bool truncated = err.pub.num_warnings > 0;
    image.Width = static_cast<int>(cinfo.output_width);
    image.Height = static_cast<int>(cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    if (truncated) {
        error = "the JPEG data is truncated or damaged";
        image = TJpegImage{};
        return false;
    }
    return true;
}

#include "presentation/controls/jpegcodec.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>

#include <jpeglib.h>

namespace {

struct TErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<TErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// A progressive stream may repeat scans without end, each one a full pass over the picture; real
// pictures have about ten.
constexpr int kMaxScans = 100;

void Progress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    const auto *dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxScans) {
        auto *err = reinterpret_cast<TErrorManager *>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "too many scans");
        std::longjmp(err->jump, 1);
    }
}

// Warnings are still counted by the default emit_message; only the printing is silenced.
void OutputMessage(j_common_ptr) { }

void InstallErrorManager(TErrorManager &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    err.message[0] = '\0';
}

void SetError(std::string *error, const char *text)
{
    if (error)
        *error = text;
}

// The parts that may jump back live in functions of their own with only trivially destructible
// locals, so that the longjmp never skips a destructor.
bool DecodeInto(jpeg_decompress_struct &cinfo, TErrorManager &err, jpeg_progress_mgr &progress,
    const std::uint8_t *data, std::size_t size, TJpegImage &out, const char *&reason)
{
    if (setjmp(err.jump)) {
        reason = err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    progress.progress_monitor = Progress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        reason = "no picture in the stream";
        return false;
    }
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxJpegSide
        || cinfo.image_height > kMaxJpegSide) {
        reason = "picture size out of range";
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        reason = "unexpected colour layout";
        return false;
    }
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    const std::size_t stride = static_cast<std::size_t>(out.width) * 3;
    out.rgb.resize(stride * static_cast<std::size_t>(out.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.rgb.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    if (err.pub.num_warnings > 0) {
        reason = "damaged or truncated data";
        return false;
    }
    return true;
}

bool EncodeInto(jpeg_compress_struct &cinfo, TErrorManager &err, const TJpegImage &image, int quality,
    unsigned char *&buffer, unsigned long &length, const char *&reason)
{
    if (setjmp(err.jump)) {
        reason = err.message;
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &length);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's interface is not const-correct; it only reads the rows.
        JSAMPROW row = const_cast<JSAMPLE *>(image.rgb.data() + stride * cinfo.next_scanline);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

} // namespace

bool DecodeJpeg(const std::uint8_t *data, std::size_t size, TJpegImage &out, std::string *error)
{
    out = TJpegImage{};
    if (!data || size == 0) {
        SetError(error, "empty data");
        return false;
    }
    jpeg_decompress_struct cinfo{};
    TErrorManager err;
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    jpeg_progress_mgr progress{};
    const char *reason = nullptr;
    const bool ok = DecodeInto(cinfo, err, progress, data, size, out, reason);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        out = TJpegImage{};
        SetError(error, reason);
    }
    return ok;
}

bool EncodeJpeg(const TJpegImage &image, int quality, std::vector<std::uint8_t> &out, std::string *error)
{
    out.clear();
    if (image.width <= 0 || image.height <= 0 || image.width > kMaxJpegSide || image.height > kMaxJpegSide
        || image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        SetError(error, "picture size does not match its pixels");
        return false;
    }
    jpeg_compress_struct cinfo{};
    TErrorManager err;
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    const char *reason = nullptr;
    const bool ok
        = EncodeInto(cinfo, err, image, quality < 1 ? 1 : (quality > 100 ? 100 : quality), buffer, length, reason);
    jpeg_destroy_compress(&cinfo);
    if (ok)
        out.assign(buffer, buffer + length);
    else
        SetError(error, reason);
    std::free(buffer);
    return ok;
}

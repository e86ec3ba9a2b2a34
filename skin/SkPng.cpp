#include "skin/SkPng.h"

#include "platform/ResStrings.h"

#include <QFile>
#include <csetjmp>
#include <cstring>
#include <png.h>

namespace zv {

namespace {

constexpr png_uint_32 kMaxSide = 8192;

// Everything the decoder touches across libpng's long jump is plain data: no destructor is skipped.
struct PngJob {
    const png_byte* Data;
    std::size_t Size;
    std::size_t Pos;
    char Message[200];
    QImage* Target; // lives in the caller, outside the jump
};

void ReadFn(png_structp png, png_bytep out, std::size_t n)
{
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (job->Size - job->Pos < n) {
        png_error(png, "the data ends early");
    }
    std::memcpy(out, job->Data + job->Pos, n);
    job->Pos += n;
}

void ErrorFn(png_structp png, png_const_charp message)
{
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    std::strncpy(job->Message, message, sizeof job->Message - 1);
    png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp)
{
}

png_bytep MakeTarget(PngJob* job, png_uint_32 w, png_uint_32 h)
{
    *job->Target = QImage(int(w), int(h), QImage::Format_ARGB32);
    return job->Target->isNull() ? nullptr : job->Target->bits();
}

bool Decode(PngJob* job)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, ErrorFn, WarningFn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::strcpy(job->Message, "not enough memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, job, ReadFn);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);
    // Whatever the colour type and depth: 8 bits per channel, RGB with alpha, values as stored (no
    // gamma conversion, as every picture viewer shows them).
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // QImage::Format_ARGB32 words 0xAARRGGBB lie in memory as B, G, R, A.
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
#else
    png_set_swap_alpha(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_BEFORE);
#endif
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    png_bytep pixels = MakeTarget(job, w, h);
    if (!pixels) {
        png_error(png, "not enough memory for the picture");
    }
    const std::size_t stride = std::size_t(job->Target->bytesPerLine());
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, pixels + y * stride, nullptr);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

QImage LoadPngImage(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const png_byte*>(data.constData());
    if (data.size() < 8 || png_sig_cmp(bytes, 0, 8) != 0) {
        throw EPngError(zv::LoadResString(zv::SNotPng));
    }
    QImage image;
    PngJob job { bytes, std::size_t(data.size()), 0, {}, &image };
    if (!Decode(&job)) {
        throw EPngError(zv::LoadResString(zv::SDamagedPng).arg(QLatin1String(job.Message)));
    }
    return image;
}

QImage LoadPngFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw EPngError(zv::LoadResString(zv::SCannotReadFile).arg(path, f.errorString()));
    }
    try {
        return LoadPngImage(f.readAll());
    } catch (const EPngError& e) {
        throw EPngError(QStringLiteral("%1: %2").arg(path, e.Message()));
    }
}

} // namespace zv

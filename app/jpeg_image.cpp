#include "app/jpeg_image.h"
#include "app/style.h"

#include <QFile>
#include <QLoggingCategory>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>

Q_LOGGING_CATEGORY(lcJpeg, "k7v.jpeg")

namespace {

// Guards against a forged header that announces a picture far larger than any
// banner, which would otherwise make us allocate gigabytes before failing.
constexpr JDIMENSION kMaxSidePx = 16384;
constexpr qint64 kMaxPixels = qint64(64) * 1024 * 1024;

// libjpeg's default error handler prints and calls exit(); ours jumps back to
// DecodeInto instead, so a bad picture costs only a null image.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->pub.format_message(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (premature end of data, corrupt entropy data, ...) mean libjpeg
// would go on and hand back a grey-padded or garbled picture. A half-drawn
// banner looks broken, so any warning counts as failure. Trace messages
// (level > 0) are ignored.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) OnError(cinfo);
}

// CMYK as written by Adobe applications is stored inverted; libjpeg hands it
// back unchanged. Converts one row in place from 4-byte CMYK to RGBX.
void CmykRowToRgbx(uchar* row, JDIMENSION width, bool adobeInverted) {
  for (JDIMENSION x = 0; x < width; ++x) {
    uchar* p = row + 4 * x;
    int c = p[0], m = p[1], y = p[2], k = p[3];
    if (!adobeInverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // With inverted samples, (c * k) / 255 is the remaining light of the channel.
    p[0] = uchar(c * k / 255);
    p[1] = uchar(m * k / 255);
    p[2] = uchar(y * k / 255);
    p[3] = 255;
  }
}

// The only function that calls setjmp: it owns no objects with destructors, so
// longjmp skips nothing. Returns false with `out` unspecified on any failure.
bool DecodeInto(const QByteArray& data, QImage& out, ErrorManager& err) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = '\0';

  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }

  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }

  QImage::Format format = QImage::Format_RGB888;
  bool cmyk = false;
  switch (cinfo.jpeg_color_space) {
  case JCS_GRAYSCALE:
    cinfo.out_color_space = JCS_GRAYSCALE;
    format = QImage::Format_Grayscale8;
    break;
  case JCS_CMYK:
  case JCS_YCCK:
    cinfo.out_color_space = JCS_CMYK;
    format = QImage::Format_RGBX8888;
    cmyk = true;
    break;
  default:
    cinfo.out_color_space = JCS_RGB;
    break;
  }

  jpeg_calc_output_dimensions(&cinfo);
  if (cinfo.output_width == 0 || cinfo.output_height == 0 || cinfo.output_width > kMaxSidePx ||
      cinfo.output_height > kMaxSidePx ||
      qint64(cinfo.output_width) * cinfo.output_height > kMaxPixels) {
    std::snprintf(err.message, sizeof err.message, "picture size %ux%u refused",
                  unsigned(cinfo.output_width), unsigned(cinfo.output_height));
    jpeg_destroy_decompress(&cinfo);
    return false;
  }

  out = QImage(int(cinfo.output_width), int(cinfo.output_height), format);
  if (out.isNull()) {
    std::snprintf(err.message, sizeof err.message, "out of memory");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }

  jpeg_start_decompress(&cinfo);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = int(cinfo.output_scanline);
    JSAMPROW row = out.scanLine(y);
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
      // Only a suspending source returns 0 here; the memory source never does.
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
    if (cmyk) CmykRowToRgbx(out.scanLine(y), cinfo.output_width, cinfo.saw_Adobe_marker);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  QImage image;
  ErrorManager err;
  if (!DecodeInto(data, image, err)) {
    qCWarning(lcJpeg) << "JPEG decoding failed:" << err.message;
    return {};
  }
  // One format for every source keeps callers and scaling code simple.
  if (image.format() != QImage::Format_RGB888) image.convertTo(QImage::Format_RGB888);
  return image;
}

QImage LoadBanner() {
  InitArtResources();
  QFile file(QStringLiteral(":/banner.jpg"));
  if (!file.open(QIODevice::ReadOnly)) {
    qCWarning(lcJpeg) << "banner picture missing from the resources";
    return {};
  }
  return DecodeJpeg(file.readAll());
}

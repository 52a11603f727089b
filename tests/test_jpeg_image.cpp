// The banner decoder and the artwork built into the program.

#include <QtTest>

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

#include "app/jpeg_image.h"
#include "app/style.h"

namespace {

// Encodes a w x h picture of one colour with libjpeg's own encoder, so the
// decoder meets each colour space the way a real file would carry it.
// components: 1 greyscale, 3 RGB, 4 CMYK (values as stored, Adobe-inverted).
QByteArray EncodeSolid(int w, int h, J_COLOR_SPACE space, std::vector<JSAMPLE> pixel) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(w);
  cinfo.image_height = JDIMENSION(h);
  cinfo.input_components = int(pixel.size());
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row;
  for (int x = 0; x < w; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

QByteArray BannerBytes() {
  InitArtResources();
  QFile f(QStringLiteral(":/banner.jpg"));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Offset of the first start-of-frame marker's height field, or -1.
qsizetype SofSizeOffset(const QByteArray& jpeg) {
  for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
    const auto m = uchar(jpeg[i + 1]);
    if (uchar(jpeg[i]) == 0xFF && (m == 0xC0 || m == 0xC1 || m == 0xC2)) return i + 5;
  }
  return -1;
}

bool Near(QRgb a, QRgb b, int tolerance = 6) {
  return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
         qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

class TestJpegImage : public QObject {
  Q_OBJECT

private slots:
  void bannerDecodesAtWindowWidth() {
    const QImage banner = LoadBanner();
    QVERIFY(!banner.isNull());
    QCOMPARE(banner.size(), QSize(984, 97));
    QCOMPARE(banner.format(), QImage::Format_RGB888);
    // Deep blue at the left edge: catches swapped channels.
    const QRgb left = banner.pixel(2, 94);
    QVERIFY2(qBlue(left) > qRed(left) + 20, qPrintable(QString::number(left, 16)));
  }

  void colourSpaces_data() {
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("grey") << EncodeSolid(17, 9, JCS_GRAYSCALE, {200}) << qRgb(200, 200, 200);
    QTest::newRow("rgb") << EncodeSolid(33, 20, JCS_RGB, {30, 120, 220}) << qRgb(30, 120, 220);
    // Adobe CMYK is stored inverted: 255,0,0,255 is no cyan, full magenta and
    // yellow, no black, i.e. red.
    QTest::newRow("cmyk") << EncodeSolid(16, 16, JCS_CMYK, {255, 0, 0, 255}) << qRgb(255, 0, 0);
  }
  void colourSpaces() {
    QFETCH(QByteArray, jpeg);
    QFETCH(QRgb, expected);
    const QImage image = DecodeJpeg(jpeg);
    QVERIFY(!image.isNull());
    QCOMPARE(image.format(), QImage::Format_RGB888);
    for (const QPoint p : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1)})
      QVERIFY2(Near(image.pixel(p), expected), qPrintable(QString::number(image.pixel(p), 16) +
                                                          " vs " + QString::number(expected, 16)));
  }

  void badDataGivesNullImage_data() {
    QTest::addColumn<QByteArray>("data");
    const QByteArray banner = BannerBytes();
    QVERIFY(banner.size() > 1000);

    QByteArray huge = banner;
    const qsizetype sof = SofSizeOffset(huge);
    QVERIFY(sof > 0);
    huge[sof] = char(0xEA); // 60000 x 60000: refused before any allocation
    huge[sof + 1] = char(0x60);
    huge[sof + 2] = char(0xEA);
    huge[sof + 3] = char(0x60);

    QByteArray zeroHeight = banner;
    zeroHeight[sof] = 0;
    zeroHeight[sof + 1] = 0;

    QByteArray endInScan = banner;
    const qsizetype mid = banner.size() / 2;
    endInScan[mid] = char(0xFF);
    endInScan[mid + 1] = char(0xD9);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray(1, char(0xFF));
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
    QTest::newRow("garbage") << QByteArray(4096, char(0x5A));
    QTest::newRow("png signature") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    QTest::newRow("header only") << banner.left(sof + 20);
    QTest::newRow("cut in half") << banner.left(banner.size() / 2);
    QTest::newRow("last scan bytes missing") << banner.left(banner.size() - 40);
    QTest::newRow("end marker inside the scan") << endInScan;
    QTest::newRow("forged huge size") << huge;
    QTest::newRow("zero height") << zeroHeight;
  }
  void badDataGivesNullImage() {
    QFETCH(QByteArray, data);
    QVERIFY(DecodeJpeg(data).isNull());
  }

  // Every icon the buttons use is built in with its own disabled look.
  void iconsHaveNormalAndDisabledPictures() {
    for (const char* name : {"serial", "dial", "channel", "ptcl", "workmode", "remote", "update",
                             "info", "connect_setup", "connect", "disconnect", "import", "export",
                             "default", "get", "set", "folder_open"}) {
      const QIcon icon = LoadIcon(QString::fromLatin1(name));
      QVERIFY2(!icon.isNull(), name);
      const QImage normal = icon.pixmap(QSize(24, 24), QIcon::Normal).toImage();
      const QImage disabled = icon.pixmap(QSize(24, 24), QIcon::Disabled).toImage();
      QVERIFY2(!normal.isNull() && !disabled.isNull(), name);
      QVERIFY2(normal != disabled, name);
    }
    QVERIFY(LoadIcon(QStringLiteral("no_such_icon")).isNull());
    QVERIFY(!QPixmap(QStringLiteral(":/icons/k7vconf.png")).isNull());
  }
};

QTEST_MAIN(TestJpegImage)
#include "test_jpeg_image.moc"

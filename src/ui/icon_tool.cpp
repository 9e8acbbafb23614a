// Writes the program's icon as the files the desktop and Windows show: PNGs
// at 16, 32 and 48 pixels, an SVG, and an ICO with the 16 and 32 pixel ones.
// Usage: lapse-icons FOLDER
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QtEndian>
#include <cstdio>

#include "ui/program_icon.h"

namespace {

QByteArray Png(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  lapse::ui::DrawProgramIcon(painter, size);
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// An ICO file that holds PNG images, as Windows has read them since Vista.
QByteArray Ico(const std::initializer_list<int>& sizes) {
  QByteArray header(6, '\0');
  qToLittleEndian<quint16>(1, header.data() + 2);
  qToLittleEndian<quint16>(static_cast<quint16>(sizes.size()), header.data() + 4);
  QByteArray entries;
  QByteArray images;
  const int firstImage = 6 + 16 * static_cast<int>(sizes.size());
  for (const int size : sizes) {
    const QByteArray png = Png(size);
    QByteArray entry(16, '\0');
    entry[0] = static_cast<char>(size);
    entry[1] = static_cast<char>(size);
    qToLittleEndian<quint16>(1, entry.data() + 4);   // colour planes
    qToLittleEndian<quint16>(32, entry.data() + 6);  // bits per pixel
    qToLittleEndian<quint32>(static_cast<quint32>(png.size()), entry.data() + 8);
    qToLittleEndian<quint32>(static_cast<quint32>(firstImage + images.size()), entry.data() + 12);
    entries += entry;
    images += png;
  }
  return header + entries + images;
}

bool Save(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool SaveSvg(const QString& path) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(48, 48));
  svg.setViewBox(QRect(0, 0, 48, 48));
  svg.setTitle(QStringLiteral("Lapse"));
  svg.setDescription(QStringLiteral("A calendar sheet whose last day is struck out"));
  QPainter painter(&svg);
  lapse::ui::DrawProgramIcon(painter, 48);
  return painter.end();
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: lapse-icons FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
  bool saved = SaveSvg(folder + QStringLiteral("lapse.svg"));
  for (const int size : {16, 32, 48}) {
    saved = Save(folder + QStringLiteral("lapse-%1.png").arg(size), Png(size)) && saved;
  }
  saved = Save(folder + QStringLiteral("lapse.ico"), Ico({16, 32})) && saved;
  return saved ? 0 : 1;
}

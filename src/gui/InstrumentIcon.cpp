#include "gui/InstrumentIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zuro {

namespace {

// The picture is laid out on a 48-unit square, as zurobsl.svg is.
constexpr qreal kUnits = 48.0;

void DrawInstrument(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  // Cable leaving the top of the meter.
  QPen cable(QColor(0x33, 0x33, 0x33), 2.5, Qt::SolidLine, Qt::RoundCap);
  p.setPen(cable);
  QPainterPath wire;
  wire.moveTo(24, 6);
  wire.cubicTo(24, 1.5, 36, 1.5, 40, 4);
  p.drawPath(wire);
  // Body.
  QLinearGradient body(0, 5, 0, 46);
  body.setColorAt(0, QColor(0x2f, 0x7d, 0x8c));
  body.setColorAt(1, QColor(0x1b, 0x4f, 0x5a));
  p.setPen(QPen(QColor(0x12, 0x36, 0x3e), 1.2));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(11, 6, 26, 40), 4, 4);
  // Display with a measurement trace.
  p.setPen(QPen(QColor(0x0e, 0x2a, 0x30), 1));
  p.setBrush(QColor(0xc8, 0xf0, 0xb4));
  p.drawRect(QRectF(14.5, 10, 19, 14));
  QPainterPath trace;
  trace.moveTo(16, 20);
  trace.lineTo(19.5, 16);
  trace.lineTo(22.5, 19);
  trace.lineTo(26, 13);
  trace.lineTo(29, 17.5);
  trace.lineTo(32, 15);
  p.setPen(QPen(QColor(0x1d, 0x5e, 0x20), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(trace);
  // Keys.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xe8, 0xe8, 0xe8));
  p.drawEllipse(QRectF(15.5, 29, 6, 6));
  p.drawEllipse(QRectF(26.5, 29, 6, 6));
  p.setBrush(QColor(0xf2, 0xa9, 0x3b));
  p.drawRoundedRect(QRectF(18, 38, 12, 4), 2, 2);
}

} // namespace

QPixmap InstrumentPixmap(int logicalSize, qreal devicePixelRatio) {
  const int device = qRound(logicalSize * devicePixelRatio);
  QPixmap pixmap(device, device);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.scale(device / kUnits, device / kUnits);
  DrawInstrument(p);
  p.end();
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

QIcon InstrumentIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(InstrumentPixmap(size, 1.0));
  }
  return icon;
}

} // namespace zuro

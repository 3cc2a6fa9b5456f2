#include "window/LienzoQt.h"

#include <QFile>

void TLienzoQt::FillRect(const TRect& r) {
  if (painter_.brush().style() == Qt::NoBrush || r.Right <= r.Left || r.Bottom <= r.Top) return;
  painter_.fillRect(QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)), painter_.brush());
}

int TLienzoQt::TextWidth(const std::u16string& text) { return painter_.fontMetrics().horizontalAdvance(Texto(text)); }

int TLienzoQt::TextHeight(const std::u16string&) { return painter_.fontMetrics().height(); }

// Text is drawn from its top-left corner; Qt places it by its baseline.
void TLienzoQt::TextOut(int x, int y, const std::u16string& text) {
  const QPen pen = painter_.pen();
  painter_.setPen(textColor_);
  painter_.drawText(x, y + painter_.fontMetrics().ascent(), Texto(text));
  painter_.setPen(pen);
}

void TLienzoQt::SetBrushColor(std::uint32_t color) { painter_.setBrush(ColorDe(color)); }

void TLienzoQt::SetBrushClear() { painter_.setBrush(Qt::NoBrush); }

void TLienzoQt::Line(int x1, int y1, int x2, int y2) { painter_.drawLine(x1, y1, x2, y2); }

QColor ColorDe(std::uint32_t color) {
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF), static_cast<int>((color >> 16) & 0xFF));
}

std::uint32_t ValorDe(const QColor& color) {
  return static_cast<std::uint32_t>(color.red()) | static_cast<std::uint32_t>(color.green()) << 8 |
         static_cast<std::uint32_t>(color.blue()) << 16;
}

QString Texto(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Nativo(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  return std::string(native.constData(), static_cast<std::size_t>(native.size()));
}

std::u16string Texto16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

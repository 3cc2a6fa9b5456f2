#pragma once

// The workers' drawing surface over a QPainter.

#include <QFontMetrics>
#include <QPainter>

#include "engine/Lienzo.h"

class TLienzoQt : public TLienzo {
 public:
  // Text is drawn in textColor; lines with the painter's pen.
  TLienzoQt(QPainter& painter, const QColor& textColor) : painter_(painter), textColor_(textColor) {}
  void FillRect(const TRect& r) override;
  int TextWidth(const std::u16string& text) override;
  int TextHeight(const std::u16string& text) override;
  void TextOut(int x, int y, const std::u16string& text) override;
  void SetBrushColor(std::uint32_t color) override;
  void SetBrushClear() override;
  void Line(int x1, int y1, int x2, int y2) override;

 private:
  QPainter& painter_;
  QColor textColor_;
};

// A colour 0x00BBGGRR as Qt's.
QColor ColorDe(std::uint32_t color);
std::uint32_t ValorDe(const QColor& color);
QString Texto(const std::u16string& text);
std::u16string Texto16(const QString& text);
// The file system's bytes of a file name Qt gives (a dialog's or a drop's).
std::string Nativo(const QString& path);

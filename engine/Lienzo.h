#pragma once

// The drawing surface a worker paints its row on: the window implements it over QPainter,
// tests with fixed metrics.

#include <cstdint>
#include <string>

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TLienzo {
 public:
  virtual ~TLienzo() = default;
  // Fills with the current brush.
  virtual void FillRect(const TRect& r) = 0;
  virtual int TextWidth(const std::u16string& text) = 0;
  virtual int TextHeight(const std::u16string& text) = 0;
  // Draws text with its top-left corner at (x, y); with a clear brush there is no background.
  virtual void TextOut(int x, int y, const std::u16string& text) = 0;
  // A solid brush of the colour 0x00BBGGRR.
  virtual void SetBrushColor(std::uint32_t color) = 0;
  virtual void SetBrushClear() = 0;
  // With the current pen.
  virtual void Line(int x1, int y1, int x2, int y2) = 0;
};

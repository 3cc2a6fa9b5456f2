// Texts of progress, capacity and the rows, on a canvas with fixed metrics.

#include <thread>

#include <gtest/gtest.h>

#include "engine/OperacionesOrigen.h"

#include "engine/DHilo.h"
#include "engine/Lienzo.h"
#include "engine/OperacionesDestino.h"
#include "engine/Progreso.h"
#include "platform/locale.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

class Formatos : public ::testing::Test {
 protected:
  void SetUp() override { win32::InstallFormatSettings({u".", u",", "%d/%m/%Y", "%H:%M:%S"}); }
};

TEST_F(Formatos, TallaStr) {
  const std::int64_t Tb = 1LL << 40;
  const struct {
    std::int64_t value;
    std::u16string text;
  } cases[] = {
      {0, u"0.00 Byte"},          {999, u"999.00 Byte"},       {1000, u"0.98 Kb"},
      {1536, u"1.50 Kb"},         {1048576, u"1.00 Mb"},       {5 * 1024 * Tb, u"5,120.00 Tb"},
      {-500, u"-0.49 Kb"},        {1023500, u"0.98 Mb"},       {1000 * Tb, u"1,000.00 Tb"},
      {1022976, u"999.00 Kb"},    {3LL << 30, u"3.00 Gb"},
  };
  for (const auto& c : cases) EXPECT_EQ(TallaStr(c.value), c.text) << c.value;
  win32::InstallFormatSettings({u",", u".", "%d/%m/%Y", "%H:%M:%S"});
  EXPECT_EQ(TallaStr(5 * 1024 * Tb), u"5.120,00 Tb");
}

TEST_F(Formatos, ErrorTextsLoseTheirTrailingPeriod) {
  for (win32::DWORD code : {2u, 5u, 112u, 258u}) {
    const std::u16string text = TextoError(code);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'.');
    EXPECT_NE(text.back(), u' ');
  }
}

// Ten pixels per character, twenty per line; records what is drawn.
class Lienzo : public TLienzo {
 public:
  struct Relleno {
    TRect r;
    std::uint32_t color;
  };
  void FillRect(const TRect& r) override { rellenos.push_back({r, color}); }
  int TextWidth(const std::u16string& text) override { return static_cast<int>(text.size()) * 10; }
  int TextHeight(const std::u16string&) override { return 20; }
  void TextOut(int x, int y, const std::u16string& text) override {
    textos.push_back({x, y, text, claro});
  }
  void SetBrushColor(std::uint32_t c) override {
    color = c;
    claro = false;
  }
  void SetBrushClear() override { claro = true; }
  void Line(int x1, int y1, int x2, int y2) override { lineas.push_back({x1, y1, x2, y2}); }

  struct Texto {
    int x, y;
    std::u16string text;
    bool claro;
  };
  std::vector<Relleno> rellenos;
  std::vector<Texto> textos;
  std::vector<TRect> lineas;
  std::uint32_t color = 0xFFFFFF;
  bool claro = false;
};

TEST(Caminos, ShorteningFoldersThenTheName) {
  Lienzo canvas;
  const struct {
    std::u16string path;
    int width;
    std::u16string result;
  } cases[] = {
      {u"a\\b\\c\\nombre.txt", 1000, u"a\\b\\c\\nombre.txt"},
      {u"ab\\cd\\ef\\nombre.txt", 180, u"...\\ef\\nombre.txt"},
      {u"a\\b\\c\\nombre.txt", 140, u"...\\nombre.txt"},
      {u"a\\b\\c\\nombre.txt", 130, u"...\\...re.txt"},
      {u"a\\b\\c\\nombre.txt", 10, u"...\\..."},
      {u"a\\b\\abc", 10, u"...\\abc"},
      {u"sinCarpeta", 80, u"...rpeta"},
      {u"E:x", 10, u"...\\x"},
  };
  for (const auto& c : cases) EXPECT_EQ(AjustarCamino(c.path, canvas, c.width), c.result) << c.width;
  EXPECT_EQ(AcortarCamino(u"a\\b\\c\\"), u"...\\b\\c\\");
  EXPECT_EQ(AcortarCamino(u"...\\b\\c\\"), u"...\\c\\");
  EXPECT_EQ(AcortarCamino(u"...\\c\\"), u"...\\");
  EXPECT_EQ(AcortarCamino(u".x\\ab\\c\\"), u"...\\c\\");
}

// A destination whose progress is set by placeholder operations with a byte count.
class Fila : public Formatos {
 protected:
  void SetUp() override {
    Formatos::SetUp();
    banco.AsignarOrigen(u'E');
  }
  // Makes the destination's position grow by `bytes`, showing the given file text.
  void Avanzar(std::int64_t bytes, std::int64_t fpos, std::int64_t ftalla) {
    TDHilo* F = banco.Hilo(u'F');
    const std::int64_t before = F->GetDPos();
    auto op = std::make_unique<TEspera>();
    op->BufBytes = bytes;
    op->DNombre = u"Fotos\\2016\\img001.jpg";
    op->ONombre = u"origen\\img001.jpg";
    op->FPos = fpos;
    op->FTalla = ftalla;
    op->FStr = u" 1000 40%";
    F->IOList.Add(std::move(op));
    ASSERT_TRUE(Esperar([&] { return F->GetDPos() == before + bytes; }));
    // One more turn shows the finished operation's file.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
  }
  Banco banco{{{u'E', 512}, {u'F', 512}}};
};

TEST_F(Fila, SpeedOverTheLastTenTicks) {
  TDHilo* F = banco.Hilo(u'F');
  for (int i = 0; i < 10; ++i) F->OnTime();
  EXPECT_EQ(F->GetVelocidad(), u"") << "no movement, no speed";
  Avanzar(3000000, 0, 0);
  F->AddDFin(3000000 + 3000000);
  F->OnTime();
  // 3,000,000 bytes over ten ticks of 300 ms is 1,000,000 bytes a second.
  const std::u16string speed = F->GetVelocidad();
  EXPECT_EQ(speed.substr(0, 23), u"976.56 Kb/Seg. Termina ") << std::string(speed.begin(), speed.end());
  for (int i = 0; i < 9; ++i) F->OnTime();
  EXPECT_FALSE(F->GetVelocidad().empty());
  F->OnTime();
  EXPECT_EQ(F->GetVelocidad(), u"") << "ten ticks later the movement is out of the ring";
}

TEST_F(Fila, CapacityOfADestinationThatLacksSpace) {
  TDHilo* F = banco.Hilo(u'F');
  EXPECT_EQ(F->GetCapacidad(), u"") << "nothing until the first adjustment";
  F->GetEspacioLibre();
  const std::int64_t big = 1LL << 50;
  F->AddDFin(big);
  ASSERT_TRUE(Esperar([&] { return F->GetCapacidad().substr(0, 8) == u" Faltan "; }));
  EXPECT_EQ(F->GetCapacidad(), u" Faltan " + TallaStr(big - F->GetEspacio()));
  TDHilo* E = banco.Hilo(u'E');
  E->GetEspacioLibre();
  E->AddDFin(big);
  ASSERT_TRUE(Esperar([&] { return !E->GetCapacidad().empty(); }));
  EXPECT_EQ(E->GetCapacidad(), u" Libre " + TallaStr(E->GetEspacio())) << "the origin shows its free space";
}

TEST_F(Fila, RowLayoutWithBothBars) {
  TDHilo* F = banco.Hilo(u'F');
  F->AddDFin(4000);
  Avanzar(1000, 500, 1000);
  F->AddDFin(0);  // The capacity text follows adjustments only.
  ASSERT_TRUE(Esperar([&] { return F->GetCapacidad() == u" Faltan 2.42 Kb"; }));
  Lienzo canvas;
  canvas.SetBrushColor(0x00FFFFFF);  // The row background the handler chose.
  const TRect row{0, 0, 400, 40};
  F->Pintar(canvas, row);
  ASSERT_EQ(canvas.rellenos.size(), 3u);
  EXPECT_EQ(canvas.rellenos[0].color, 0x00FFFFFFu);
  EXPECT_EQ(canvas.rellenos[1].r.Right, 100) << "a quarter done";
  EXPECT_EQ(canvas.rellenos[1].r.Bottom, 20);
  EXPECT_EQ(canvas.rellenos[1].color, banco.ajustes.ColorDestino.load());
  EXPECT_EQ(canvas.rellenos[2].r.Top, 20);
  EXPECT_EQ(canvas.rellenos[2].r.Right, 200) << "half of the current file";
  ASSERT_EQ(canvas.textos.size(), 2u);
  // Free space 0 (never measured), 3000 bytes to go, 524 of the file not yet written.
  EXPECT_EQ(canvas.textos[0].text, u"Disco F (F)  Faltan 2.42 Kb 25% ");
  EXPECT_EQ(canvas.textos[0].x, 1);
  EXPECT_TRUE(canvas.textos[0].claro);
  EXPECT_EQ(canvas.textos[1].y, 20);
  EXPECT_EQ(canvas.textos[1].text, u"Fotos\\2016\\img001.jpg 1000 40%");
  ASSERT_EQ(canvas.lineas.size(), 1u);
  EXPECT_EQ(canvas.lineas[0].Top, 39);
  EXPECT_EQ(canvas.lineas[0].Right, 400);

  Lienzo narrow;
  F->Pintar(narrow, {0, 0, 250, 40});
  EXPECT_EQ(narrow.textos[1].text, u"...\\img001.jpg 1000 40%");
  EXPECT_EQ(F->GetWebStr(), u"Disco F (F)  Faltan 2.42 Kb 25% ");
}

TEST_F(Fila, WebLineWithoutWorkAndWithAnError) {
  TDHilo* F = banco.Hilo(u'F');
  EXPECT_EQ(F->GetWebStr(), u"Disco F (F) ") << "no work yet: name, letter and capacity only";
  Lienzo canvas;
  F->Pintar(canvas, {0, 0, 400, 40});
  EXPECT_EQ(canvas.rellenos.size(), 1u) << "no bars";
  EXPECT_EQ(canvas.textos[0].text, u"Disco F (F) ");

  // An operation that starts nothing (a drive that does not answer): the wait times out.
  banco.ajustes.TiempoError = 300;
  auto create = std::make_unique<TArchivoAusente>();
  create->DNombre = u"..\\fuera";
  create->FTalla = 10;
  create->FStr = u" 10.00 Byte";
  F->AddDFin(512);
  F->IOList.Add(std::move(create));
  ASSERT_TRUE(Esperar([&] { return F->GetLEC() == win32::WAIT_TIMEOUT; }));
  const std::u16string error = u"(" + TextoError(win32::WAIT_TIMEOUT) + u")";
  EXPECT_EQ(F->GetWebStr(), u"Disco F (F) " + F->GetCapacidad() + u" 0% " + error);
  F->OnTime();
  EXPECT_EQ(F->GetVelocidad(), error);
  EXPECT_EQ(F->GetWebStr(), u"Disco F (F) " + F->GetCapacidad() + u" 0% " + error + error)
      << "after a tick the error stands twice";
  Lienzo errorRow;
  F->Pintar(errorRow, {0, 0, 400, 40});
  EXPECT_EQ(errorRow.rellenos.back().color, banco.ajustes.ColorError.load());
  EXPECT_EQ(errorRow.textos[1].text, u"..\\fuera 10.00 Byte") << "the failed operation's name and text";
}

}  // namespace

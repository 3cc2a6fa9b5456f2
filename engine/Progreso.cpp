// Progress texts, the capacity text, the speed ring and the row of a worker.

#include "engine/Progreso.h"

#include <cmath>

#include "engine/DHilo.h"
#include "engine/Lienzo.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/locale.h"

using namespace win32;

namespace {

// Two decimals, with the user's decimal and thousands separators.
std::u16string DosDecimales(double x) {
  const FormatSettings& formats = UserFormats();
  const bool negative = x < 0;
  const auto cents = static_cast<std::int64_t>(std::llround(std::fabs(x) * 100.0));
  const std::u16string digits = Utf16Decimal(cents / 100);
  std::u16string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += formats.thousandSeparator;
    grouped += digits[i];
  }
  const std::int64_t fraction = cents % 100;
  std::u16string text = negative && cents != 0 ? u"-" : u"";
  text += grouped + formats.decimalSeparator;
  text += static_cast<char16_t>(u'0' + fraction / 10);
  text += static_cast<char16_t>(u'0' + fraction % 10);
  return text;
}

bool Recortable(char16_t c) { return c < 0x20 || c == 0x7F || c == u' ' || c == u'.'; }

}  // namespace

std::u16string Utf16Decimal(std::int64_t value) {
  const std::string text = std::to_string(value);
  return std::u16string(text.begin(), text.end());
}

std::u16string TallaStr(std::int64_t Value) {
  static const char16_t* const kUnidades[] = {u"Byte", u"Kb", u"Mb", u"Gb", u"Tb"};
  double x = static_cast<double>(Value);
  int i = 0;
  for (;;) {
    // Halves go to the even neighbour.
    const auto rounded = static_cast<std::int64_t>(std::nearbyint(x));
    if (std::to_string(rounded).size() <= 3 || i == 4) break;
    x /= 1024.0;
    ++i;
  }
  return DosDecimales(x) + u" " + kUnidades[i];
}

std::u16string TextoError(DWORD code) {
  std::u16string text = ErrorMessage(code);
  while (!text.empty() && Recortable(text.back())) text.pop_back();
  return text;
}

std::u16string AcortarCamino(const std::u16string& S) {
  std::u16string result = u"...\\";
  std::u16string rest = S;
  if (!rest.empty() && rest[0] == u'.') rest.erase(0, std::min<std::size_t>(4, rest.size()));
  const auto cut = rest.find(u'\\');
  if (cut != std::u16string::npos) result += rest.substr(cut + 1);
  return result;
}

std::u16string AjustarCamino(const std::u16string& S, TLienzo& Canvas, int MaxWidth) {
  std::u16string result = S;
  const auto cut = S.find_last_of(u"\\:");
  std::u16string path = cut == std::u16string::npos ? std::u16string() : S.substr(0, cut + 1);
  std::u16string name = cut == std::u16string::npos ? S : S.substr(cut + 1);
  if (!path.empty()) {
    while (path != u"...\\" && Canvas.TextWidth(result) > MaxWidth) {
      path = AcortarCamino(path);
      result = path + name;
    }
  }
  while (name.size() > 3 && Canvas.TextWidth(result) > MaxWidth) {
    name = u"..." + name.substr(4);
    result = path + name;
  }
  return result;
}

// Worker thread, in a capacity step that applied adjustments.
void TDHilo::RecalcularCapacidad() {
  std::u16string texto = u" Libre ";
  std::int64_t v = EspacioLibre.load();
  if (!EsElOrigen()) {
    v = EspacioLibre.load() + DPos.load() - DFin.load() + Redondear(IOLast->FTalla, HRec.SectorSize) - IOLast->FPos;
    if (v < 0) {
      v = -v;
      texto = u" Faltan ";
    }
  }
  texto += TallaStr(v);
  std::lock_guard guard(TextosLock);
  Capacidad = std::move(texto);
}

void TDHilo::GetEspacioLibre() {
  const THRec rec = GetAppRec();
  const std::u16string root = std::u16string{rec.Letra, u':', u'\\'};
  std::uint64_t free = 0, total = 0, all = 0;
  if (GetDiskFreeSpaceExW(root, &free, &total, &all)) EspacioLibre.store(static_cast<std::int64_t>(free));
  AddDFin(0);
}

void TDHilo::OnTime() {
  try {
    const std::uint32_t error = LEC.load();
    if (error != 0) {
      const std::u16string texto = u"(" + TextoError(error) + u")";
      std::lock_guard guard(TextosLock);
      Velocidad = texto;
      return;
    }
    const std::int64_t intervalo = Ajustes.IntervaloTimer.load();
    if (intervalo == 0) return;  // No time base: the previous text stays.
    VRec = VRec->Last;
    VRec->Pos = DPos.load();
    const std::int64_t speed = (VRec->Pos - VRec->Last->Pos) * 1000 / (10 * intervalo);
    std::u16string texto;
    if (speed != 0) {
      const TDateTime end = Now() + static_cast<double>(DFin.load() - VRec->Pos) / static_cast<double>(speed) / 86400.0;
      texto = TallaStr(speed) + u"/Seg. Termina " + FormatLongTime(end);
    }
    // A file the drive could not hold: the drive goes on, and its row says why one failed.
    if (const std::uint32_t archivo = errorArchivo_.load(); archivo != 0) {
      texto += (texto.empty() ? u"(" : u" (") + TextoError(archivo) + u")";
    }
    texto += AvisoDefectuosa();
    std::lock_guard guard(TextosLock);
    Velocidad = std::move(texto);
  } catch (...) {
  }
}

void TDHilo::Pintar(TLienzo& Canvas, const TRect& RD) {
  try {
    THRec rec;
    std::u16string capacidad, velocidad;
    TVistaOperacion op;
    const std::uint32_t error = LEC.load();
    {
      std::lock_guard guard(TextosLock);
      rec = hrecVisible_;
      capacidad = Capacidad;
      velocidad = Velocidad;
      op = error == 0 ? vistaUltima_ : vistaError_;
    }
    const std::int64_t dpos = DPos.load(), dfin = DFin.load();
    Canvas.FillRect(RD);
    std::u16string top = rec.Nombre + u" (" + rec.Letra + u") " + capacidad;
    const int mid = RD.Top + (RD.Bottom - RD.Top) / 2;
    const std::int64_t w = RD.Right - RD.Left;
    Canvas.SetBrushColor(error == 0 && errorArchivo_.load() == 0 ? PaintBoxColor->load() : Ajustes.ColorError.load());
    if (dfin != 0) {
      top += u" " + Utf16Decimal(dpos * 100 / dfin) + u"% " + velocidad;
      Canvas.FillRect({RD.Left, RD.Top, RD.Left + static_cast<int>((dpos * 65536 / dfin) * w / 65536), mid});
    }
    if (op.FTalla != 0) {
      Canvas.FillRect({RD.Left, mid, RD.Left + static_cast<int>(w * op.FPos / op.FTalla), RD.Bottom});
    }
    const int avail = static_cast<int>(w) - Canvas.TextWidth(op.FStr) - 1;
    Canvas.SetBrushClear();
    Canvas.TextOut(RD.Left + 1, RD.Top, top);
    const std::u16string& name = EsElOrigen() ? op.ONombre : op.DNombre;
    Canvas.TextOut(RD.Left + 1, mid, AjustarCamino(name, Canvas, avail) + op.FStr);
    Canvas.Line(RD.Left, RD.Bottom - 1, RD.Right, RD.Bottom - 1);
  } catch (...) {
  }
}

std::u16string TDHilo::GetWebStr() {
  THRec rec;
  std::u16string capacidad, velocidad;
  {
    std::lock_guard guard(TextosLock);
    rec = hrecVisible_;
    capacidad = Capacidad;
    velocidad = Velocidad;
  }
  std::u16string line = rec.Nombre + u" (" + rec.Letra + u") " + capacidad;
  const std::int64_t dfin = DFin.load();
  if (dfin != 0) {
    line += u" " + Utf16Decimal(DPos.load() * 100 / dfin) + u"% " + velocidad;
    const std::uint32_t error = LEC.load() != 0 ? LEC.load() : errorArchivo_.load();
    if (error != 0) line += u"(" + TextoError(error) + u")";
  }
  return line + AvisoDefectuosa();
}

// Copy after copy that does not read back as written: a stick smaller than it claims, a
// failing card, a loose port.
std::u16string TDHilo::AvisoDefectuosa() const {
  std::int64_t malos = 0;
  {
    std::lock_guard guard(TextosLock);
    malos = cuentas_.MalVerificados;
  }
  if (malos < kMalVerificadosDefectuosa) return {};
  return u" Unidad defectuosa: " + Utf16Decimal(malos) + u" copias no coinciden";
}

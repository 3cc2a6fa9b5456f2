#include "web/Pagina.h"

#include "platform/locale.h"

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::u16string IconoHtml(const std::string& icoBytes) {
  const std::string encoded = Base64(icoBytes);
  return u"<img src=\"data:image/ico;base64," + std::u16string(encoded.begin(), encoded.end()) + u"\">";
}

std::u16string IdHTTPServerCommandGet(const TEstadoPagina& estado) {
  const win32::TDateTime now = win32::Now();
  std::u16string page;
  page += u"<html><head><title>";
  page += estado.NombreAplicacion;
  page += u"</title></head><body><form method=\"post\" AUTOMPLETE=\"OFF\">";
  page += u"<h1>";
  page += IconoHtml(estado.IconoPrograma);
  page += estado.NombreAplicacion;
  page += u"&nbspversi&oacute;n&nbsp";
  page += win32::FormatShortDate(static_cast<win32::TDateTime>(estado.AppVersion));
  page += u"</h1>";
  page += u"<h3>Contacto: equipo de Vertilo</h3>";
  page += u"<h2>Dispositivos conectados:</h2><h3>";
  for (const TEstadoDispositivo& d : estado.Dispositivos) {
    page += IconoHtml(d.IconoIco);
    page += u"&nbsp";
    page += d.Linea;
    page += u"<br>";
  }
  page += u"</h3>";
  page += u"<h3>Fecha:";
  page += win32::FormatShortDate(now);
  page += u"&nbspHora:";
  page += win32::FormatLongTime(now);
  page += u"</h3>";
  page += u"</form>";
  page += u"</body></html>";
  return page;
}

// A pair of surrogates is one character outside the set, so it becomes one "?".
std::string Latin1(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c <= 0xFF) {
      out += static_cast<char>(c);
    } else {
      out += '?';
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    }
  }
  return out;
}

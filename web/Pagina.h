#pragma once

// The status page: built afresh for every request from a copy of the window's state.

#include <string>

#include "engine/Estado.h"

// RFC 4648 base64 of the bytes, with padding and no line breaks.
std::string Base64(const std::string& bytes);

// The img element that shows an icon given as the bytes of an ICO file.
std::u16string IconoHtml(const std::string& icoBytes);

// The page's text, in its twenty pieces.
std::u16string IdHTTPServerCommandGet(const TEstadoPagina& estado);

// ISO-8859-1 bytes of the text; a character outside that set becomes "?".
std::string Latin1(const std::u16string& text);

#pragma once

// Texts the whole program shows: byte counts, error texts, shortened paths.

#include <cstdint>
#include <string>

#include "platform/types.h"

class TLienzo;

// The byte-count text: two decimals with the user's separators and a unit (Byte, Kb, Mb,
// Gb, Tb), the unit chosen so that the rounded number has at most three characters.
std::u16string TallaStr(std::int64_t Value);

// The system's text for an error code, without trailing control characters, spaces and
// periods.
std::u16string TextoError(win32::DWORD code);

std::u16string Utf16Decimal(std::int64_t value);

// Shortens a path from its folders, then its name, until it fits MaxWidth in the canvas font.
std::u16string AjustarCamino(const std::u16string& S, TLienzo& Canvas, int MaxWidth);
// Drops the first folder of a folder path behind "...\".
std::u16string AcortarCamino(const std::u16string& S);

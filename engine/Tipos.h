#pragma once

// Plain records shared across the engine: a drive's identity, a file's three times, a sample
// of the speed ring, and the rounding to whole sectors.

#include <cstdint>
#include <string>

#include "platform/types.h"

struct TFTiempo {
  win32::FILETIME CTiempo;  // creation
  win32::FILETIME LTiempo;  // last access
  win32::FILETIME ETiempo;  // last write
};

struct THRec {
  std::u16string Nombre;
  char16_t Letra = 0;
  std::uint32_t ID = 0;
  std::uint32_t SectorSize = 512;
  std::uint32_t MaxSectorSize = 512;
};

struct TVRec {
  std::int64_t Pos = 0;
  TVRec* Last = nullptr;
};

// The smallest multiple of step that is not below value (signed 64-bit division). A step of 0
// would be no sector size; it is taken as 512.
std::int64_t Redondear(std::int64_t valor, std::uint32_t paso);

// "\\?\" + letter + ":\" + a name relative to the drive's root.
std::u16string Camino(char16_t letra, const std::u16string& nombre);

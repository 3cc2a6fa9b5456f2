#pragma once

// What one drive did in a run, for its report: kept by its worker, read as a copy.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/locale.h"
#include "platform/types.h"

struct TCuentas {
  std::int64_t Copiados = 0;         // files on the device (and verified, when verifying)
  std::int64_t BytesCopiados = 0;
  std::int64_t IgualesOmitidos = 0;  // skipped: the drive held the same file
  std::int64_t ListadosOmitidos = 0; // skipped: the drive's listing names the file
  std::int64_t Verificados = 0;      // read back from the device and matched
  std::int64_t MalVerificados = 0;   // read back and did not match: deleted, counted as failed
  // Local date-times of the first work and of the last copy finished; 0: none yet.
  win32::TDateTime Inicio = 0;
  win32::TDateTime Fin = 0;
  std::vector<std::pair<std::u16string, win32::DWORD>> Fallidos;  // names and reasons, oldest first
};

// Verification failures from which a drive's row calls it bad: a stick that lies about its
// size, or a failing card, fails copy after copy.
constexpr std::int64_t kMalVerificadosDefectuosa = 3;

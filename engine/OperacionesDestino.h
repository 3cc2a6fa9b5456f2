#pragma once

// What a destination worker does with the blocks the origin hands it: folders, empty files,
// the preallocated destination file, its writes, and its finish (complete or incomplete).

#include <vector>

#include "engine/Espera.h"

class TCrearCarpeta : public TEspera {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

class TCrearArchivoVacio : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

class TCrearArchivo : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

class TEscribirArchivo : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

class TCerrarArchivoCreado : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

// A finished copy whose source times and attributes wait for its drive's next flush: until
// its data is on the device it carries a last-write time an hour before the source's, so
// that a copy cut short by a crash or a pulled drive never passes for the source.
struct TSello {
  std::u16string DNombre;
  TFTiempo FTiempo{};
  std::uint32_t FAtributos = 0;
  std::int64_t FTalla = 0;
  // The origin's checksums of the copy's blocks, in order; empty: not to be read back.
  std::vector<std::uint64_t> Sumas;
};

// What a flush did: its error code, and of its copies those stamped (on the device, and
// matching when read back) and those that did not read back as written (deleted, with the
// reason).
struct TResultadoVolcado {
  win32::DWORD Fallo = win32::ERROR_SUCCESS;
  std::vector<const TSello*> Sellados;
  std::int64_t Verificados = 0;
  std::vector<std::pair<const TSello*, win32::DWORD>> Malos;
};

// The flush of a drive: everything written to it reaches the device; with Verificar each
// finished copy is then read back from the device and compared with the origin's checksums
// (a copy that differs is deleted, so the next run copies it again); the good copies get
// their times and attributes and leave the page cache. A failed flush fails the wait with
// its error code and leaves the copies with their provisional time.
class TVolcarDestino : public TEspera {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;

  std::vector<TSello> Sellos;
  bool Verificar = false;
  TResultadoVolcado Resultado;  // Set by ExeIO, on the destination's thread.
};

// The same, on the calling thread. The result points into `sellos`.
TResultadoVolcado VolcarYSellar(char16_t Letra, const std::vector<TSello>& sellos, bool verificar);

class TCerrarArchivoIncompleto : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

// The folder part of a path: up to and including its last backslash.
std::u16string CarpetaDe(const std::u16string& camino);

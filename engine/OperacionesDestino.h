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
};

// The flush of a drive: everything written to it reaches the device, then the finished
// copies get their times and attributes and leave the page cache. A failed flush fails the
// wait with its error code and leaves the copies with their provisional time.
class TVolcarDestino : public TEspera {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;

  std::vector<TSello> Sellos;
};

// The same, on the calling thread; ERROR_SUCCESS, or the flush's error code.
win32::DWORD VolcarYSellar(char16_t Letra, const std::vector<TSello>& sellos);

class TCerrarArchivoIncompleto : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

// The folder part of a path: up to and including its last backslash.
std::u16string CarpetaDe(const std::u16string& camino);

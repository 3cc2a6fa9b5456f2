#pragma once

// What a destination worker does with the blocks the origin hands it: folders, empty files,
// the preallocated destination file, its writes, and its finish (complete or incomplete).

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

class TCerrarArchivoIncompleto : public TCrearCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

// The folder part of a path: up to and including its last backslash.
std::u16string CarpetaDe(const std::u16string& camino);

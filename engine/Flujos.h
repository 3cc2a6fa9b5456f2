#pragma once

// Record streams: flat sequences of little-endian integers, file times and counted UTF-16
// strings, in memory or in a file.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/types.h"

// A stream that failed: a file that cannot be opened, read or written, or that ends early.
class EFlujo : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A count that the rest of the stream cannot hold (or below 0): the data is damaged.
class EFormato : public EFlujo {
 public:
  using EFlujo::EFlujo;
};

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads exactly n bytes or throws EFlujo.
  virtual void Leer(void* destino, std::size_t n) = 0;
  virtual void Escribir(const void* origen, std::size_t n) = 0;
  // Bytes left between the position and the end.
  virtual std::int64_t Restante() const = 0;

  std::int32_t LeerEntero();
  std::uint32_t LeerNatural();
  std::int64_t LeerEntero64();
  win32::FILETIME LeerTiempo();
  void EscribirEntero(std::int32_t v);
  void EscribirNatural(std::uint32_t v);
  void EscribirEntero64(std::int64_t v);
  void EscribirTiempo(const win32::FILETIME& t);
  // A count of items of `tamano` bytes each, checked against what the stream still holds.
  std::int32_t LeerCuenta(std::size_t tamano);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  void Leer(void* destino, std::size_t n) override;
  void Escribir(const void* origen, std::size_t n) override;
  std::int64_t Restante() const override { return static_cast<std::int64_t>(bytes_.size() - position_); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  void Rebobinar() { position_ = 0; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// A file read or written through a buffer; a system path ("\\?\X:\...") or a native absolute
// path. Writing replaces the file. The destructor writes what is buffered; call Cerrar to
// learn whether that worked.
class TFileStream : public TStream {
 public:
  enum class Modo { Leer, Crear };
  TFileStream(const std::u16string& camino, Modo modo);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void Leer(void* destino, std::size_t n) override;
  void Escribir(const void* origen, std::size_t n) override;
  std::int64_t Restante() const override;
  // Writes out the buffer and closes; throws EFlujo when the data did not reach the file.
  void Cerrar();

 private:
  void Volcar();

  win32::HANDLE file_ = win32::INVALID_HANDLE_VALUE;
  Modo modo_;
  std::vector<char> buffer_;
  std::size_t start_ = 0, end_ = 0;  // Unread part of buffer_ when reading.
  std::int64_t size_ = 0, read_ = 0;  // File size and bytes handed out, when reading.
};

// Counted UTF-16: a signed 32-bit count of code units, then the units.
void EscribirCadena(TStream& S, const std::u16string& texto);
std::u16string LeerCadena(TStream& S);

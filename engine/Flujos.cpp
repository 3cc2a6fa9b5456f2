#include "engine/Flujos.h"

#include <cstring>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/strings.h"

using namespace win32;

namespace {

constexpr std::size_t kBuffer = 64 * 1024;

template <class T>
T LeerLE(TStream& S) {
  unsigned char bytes[sizeof(T)];
  S.Leer(bytes, sizeof bytes);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return static_cast<T>(value);
}

template <class T>
void EscribirLE(TStream& S, T v) {
  unsigned char bytes[sizeof(T)];
  const auto value = static_cast<std::uint64_t>(v);
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  S.Escribir(bytes, sizeof bytes);
}

std::string Motivo(const std::u16string& camino) {
  return Utf8(camino) + ": " + Utf8(ErrorMessage(GetLastError()));
}

}  // namespace

std::int32_t TStream::LeerEntero() { return LeerLE<std::int32_t>(*this); }
std::uint32_t TStream::LeerNatural() { return LeerLE<std::uint32_t>(*this); }
std::int64_t TStream::LeerEntero64() { return LeerLE<std::int64_t>(*this); }
win32::FILETIME TStream::LeerTiempo() {
  FILETIME t;
  t.dwLowDateTime = LeerNatural();
  t.dwHighDateTime = LeerNatural();
  return t;
}
void TStream::EscribirEntero(std::int32_t v) { EscribirLE(*this, v); }
void TStream::EscribirNatural(std::uint32_t v) { EscribirLE(*this, v); }
void TStream::EscribirEntero64(std::int64_t v) { EscribirLE(*this, v); }
void TStream::EscribirTiempo(const FILETIME& t) {
  EscribirNatural(t.dwLowDateTime);
  EscribirNatural(t.dwHighDateTime);
}

std::int32_t TStream::LeerCuenta(std::size_t tamano) {
  const std::int32_t count = LeerEntero();
  if (count < 0 || static_cast<std::uint64_t>(count) * tamano > static_cast<std::uint64_t>(Restante())) {
    throw EFormato("a count of " + std::to_string(count) + " does not fit in the rest of the data");
  }
  return count;
}

void TMemoryStream::Leer(void* destino, std::size_t n) {
  if (n > bytes_.size() - position_) throw EFlujo("the data ends early");
  std::memcpy(destino, bytes_.data() + position_, n);
  position_ += n;
}

void TMemoryStream::Escribir(const void* origen, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(origen);
  bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), p, p + n);
  position_ += n;
}

TFileStream::TFileStream(const std::u16string& camino, Modo modo) : modo_(modo), buffer_(kBuffer) {
  if (modo == Modo::Leer) {
    file_ = CreateFileW(camino, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
  } else {
    file_ = CreateFileW(camino, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0);
  }
  if (file_ == INVALID_HANDLE_VALUE) throw EFlujo(Motivo(camino));
  if (modo == Modo::Leer && !GetFileSizeEx(file_, &size_)) {
    CloseHandle(file_);
    throw EFlujo(Motivo(camino));
  }
}

TFileStream::~TFileStream() {
  try {
    Cerrar();
  } catch (const EFlujo&) {
    // Whoever needs to know calls Cerrar before.
  }
}

void TFileStream::Leer(void* destino, std::size_t n) {
  auto* out = static_cast<char*>(destino);
  while (n > 0) {
    if (start_ == end_) {
      DWORD done = 0;
      if (file_ == INVALID_HANDLE_VALUE || !ReadFile(file_, buffer_.data(), kBuffer, &done, nullptr)) {
        throw EFlujo("the file cannot be read");
      }
      if (done == 0) throw EFlujo("the file ends early");
      start_ = 0;
      end_ = done;
    }
    const std::size_t take = std::min(n, end_ - start_);
    std::memcpy(out, buffer_.data() + start_, take);
    start_ += take;
    read_ += static_cast<std::int64_t>(take);
    out += take;
    n -= take;
  }
}

void TFileStream::Escribir(const void* origen, std::size_t n) {
  const auto* in = static_cast<const char*>(origen);
  while (n > 0) {
    const std::size_t take = std::min(n, kBuffer - end_);
    std::memcpy(buffer_.data() + end_, in, take);
    end_ += take;
    in += take;
    n -= take;
    if (end_ == kBuffer) Volcar();
  }
}

std::int64_t TFileStream::Restante() const { return modo_ == Modo::Leer ? size_ - read_ : 0; }

void TFileStream::Volcar() {
  if (modo_ != Modo::Crear || end_ == 0) return;
  DWORD done = 0;
  const bool ok = file_ != INVALID_HANDLE_VALUE && WriteFile(file_, buffer_.data(), static_cast<DWORD>(end_), &done, nullptr);
  end_ = 0;
  if (!ok) throw EFlujo("the file cannot be written: " + Utf8(ErrorMessage(GetLastError())));
}

void TFileStream::Cerrar() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  try {
    Volcar();
  } catch (const EFlujo&) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    throw;
  }
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

void EscribirCadena(TStream& S, const std::u16string& texto) {
  S.EscribirEntero(static_cast<std::int32_t>(texto.size()));
  for (char16_t unit : texto) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(unit & 0xFF), static_cast<unsigned char>(unit >> 8)};
    S.Escribir(bytes, 2);
  }
}

std::u16string LeerCadena(TStream& S) {
  const std::int32_t count = S.LeerCuenta(2);
  std::u16string text(static_cast<std::size_t>(count), u'\0');
  std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * 2);
  if (count > 0) S.Leer(bytes.data(), bytes.size());
  for (std::int32_t i = 0; i < count; ++i) {
    text[static_cast<std::size_t>(i)] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return text;
}

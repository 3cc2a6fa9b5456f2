#pragma once

// The window settings that the workers read while they run. The window writes them on its
// own thread; each is one atomic, so a worker always reads a whole value.

#include <atomic>
#include <cstdint>

struct TAjustes {
  std::atomic<std::uint32_t> TiempoError{15000};         // milliseconds a worker waits for a completion
  std::atomic<std::int64_t> MemoriaTotal{0};             // bytes of physical memory, measured at start
  std::atomic<std::int64_t> MemoriaLibre{1LL << 30};     // bytes the copy must leave free
  std::atomic<bool> UsarCaminoOrigen{true};
  std::atomic<bool> Verificar{true};  // copies are read back from their device and compared
  std::atomic<std::uint32_t> IntervaloTimer{300};        // milliseconds between timer ticks
  // Milliseconds a cancelled transfer may take to hand back its completion before its
  // operation is given up (kept alive, with its buffer, until the completion comes).
  std::atomic<std::uint32_t> TiempoDrenaje{10000};
  std::atomic<std::uint32_t> ColorOrigen{0x0080A0FF};    // 0x00BBGGRR
  std::atomic<std::uint32_t> ColorDestino{0x00D2D200};
  std::atomic<std::uint32_t> ColorError{0x00D200D2};

  // Workers built on these settings and not yet freed: the settings must outlive them. A
  // worker's last touch of the settings is the decrement.
  std::atomic<std::int64_t> Trabajadores{0};
};

#pragma once

// Checksums of the blocks the origin reads, and the read-back of a copy from its device.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

// XXH3-64 of a block's bytes (the file's, not the sector slack after its end).
std::uint64_t SumaBloque(const void* datos, std::int64_t bytes);

// Reads the copy at `camino` back from its device (unbuffered, whole blocks) and compares
// each block with the origin's checksum. ERROR_SUCCESS when every block matches and the
// copy has its size; ERROR_CRC when one does not; the read's own code when it fails.
win32::DWORD VerificarCopia(const std::u16string& camino, std::int64_t talla, const std::vector<std::uint64_t>& sumas);
// Small copies are read back through the page cache: each is first dropped from it and read
// again from the device in the background (RefreshFileCache), all of a flush's at once, so
// that the device sees them together; one synchronous read per file costs a round trip each.
void RecargarCopia(const std::u16string& camino);

// For tests: runs after a drive's flush and before its copies are read back, with the
// copy's path; a test damages the copy on the device there. Empty in the program.
extern std::function<void(const std::u16string& camino)> GanchoAntesDeVerificar;

// libFuzzer target for the readers of job and listing files: whatever the bytes, reading
// ends with the records before the damage, without a crash, an overread or a huge
// allocation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/FRec.h"
#include "engine/Listados.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  {
    TMemoryStream listing(bytes);
    TListaRegistros records;
    try {
      LeerRegistrosListado(listing, kFileAppVersion, records);
    } catch (const EFlujo&) {
    }
  }
  {
    TMemoryStream job(bytes);
    try {
      job.LeerNatural();
      const std::int32_t count = job.LeerEntero();
      for (std::int32_t i = 0; i < count; ++i) {
        TFRec R;
        R.LeerTodo(job, {});
      }
    } catch (const EFlujo&) {
    }
  }
  return 0;
}

// A destination's report counts and the read-back's results, kept on its worker.

#include <typeinfo>

#include "engine/DHilo.h"

using namespace win32;

TCuentas TDHilo::Cuentas() const {
  std::lock_guard guard(TextosLock);
  TCuentas copia = cuentas_;
  copia.Fallidos = fallidos_;
  return copia;
}

void TDHilo::ContarOmitido(bool porListado) {
  std::lock_guard guard(TextosLock);
  ++(porListado ? cuentas_.ListadosOmitidos : cuentas_.IgualesOmitidos);
}

// Worker thread: an operation completed without error. A write's checksum belongs to the
// copy being written (a create starts a new one); an empty file is finished at once.
void TDHilo::AnotarTerminada(const TEspera& op) {
  if (op.Fallida) return;
  if (op.ConSuma) {
    sumas_.push_back(op.Suma);
    return;
  }
  const std::type_info& tipo = typeid(op);
  if (tipo == typeid(TCrearArchivo)) {
    sumas_.clear();
    if (!retenido_) {
      DPos.fetch_sub(1);
      retenido_ = true;
    }
  }
  // A file given up part-way (the source failed): nothing of it waits for a flush.
  if (tipo == typeid(TCerrarArchivoIncompleto) && sellos_.empty()) DevolverRetenido();
  if (!empezado_ && tipo != typeid(TEspera)) {
    empezado_ = true;
    std::lock_guard guard(TextosLock);
    cuentas_.Inicio = Now();
  }
  if (tipo == typeid(TCrearArchivoVacio)) {
    std::lock_guard guard(TextosLock);
    ++cuentas_.Copiados;
    cuentas_.Fin = Now();
  }
}

// A copy that did not read back as written leaves this drive's totals as a failed file
// does; the drive goes on.
void TDHilo::AnotarVolcado(const TResultadoVolcado& resultado) {
  {
    std::lock_guard guard(TextosLock);
    for (const TSello* sello : resultado.Sellados) {
      ++cuentas_.Copiados;
      cuentas_.BytesCopiados += sello->FTalla;
    }
    cuentas_.Verificados += resultado.Verificados;
    for (const auto& [sello, code] : resultado.Malos) {
      ++cuentas_.MalVerificados;
      fallidos_.emplace_back(sello->DNombre, code);
    }
    if (!resultado.Sellados.empty() || !resultado.Malos.empty()) cuentas_.Fin = Now();
  }
  for (const auto& [sello, code] : resultado.Malos) {
    errorArchivo_.store(code);
    DPos.fetch_sub(DTalla(sello->FTalla));
    AddDFin(-DTalla(sello->FTalla));
  }
  // Not while a next copy is open: the byte is then held for it.
  if (resultado.Fallo == ERROR_SUCCESS && IOFile == INVALID_HANDLE_VALUE) DevolverRetenido();
}

void TDHilo::DevolverRetenido() {
  if (!retenido_) return;
  retenido_ = false;
  DPos.fetch_add(1);
}

// The stream forms of a file record.

#include <algorithm>

#include "engine/DHilo.h"
#include "engine/FRec.h"
#include "engine/Flujos.h"

void TFRec::EscribirOrigen(TStream& S) const {
  EscribirCadena(S, ONombre);
  S.EscribirEntero64(Talla);
  S.EscribirTiempo(Tiempo.CTiempo);
  S.EscribirTiempo(Tiempo.LTiempo);
  S.EscribirTiempo(Tiempo.ETiempo);
  S.EscribirNatural(Atributos);
}

void TFRec::LeerOrigen(TStream& S) {
  ONombre = LeerCadena(S);
  Talla = S.LeerEntero64();
  Tiempo.CTiempo = S.LeerTiempo();
  Tiempo.LTiempo = S.LeerTiempo();
  Tiempo.ETiempo = S.LeerTiempo();
  Atributos = S.LeerNatural();
}

void TFRec::EscribirTodo(TStream& S) const {
  EscribirOrigen(S);
  EscribirCadena(S, DNombre);
  S.EscribirEntero(static_cast<std::int32_t>(DList.size()));
  for (TDHilo* DH : DList) S.EscribirNatural(DH->Identidad().ID);
}

bool TFRec::LeerTodo(TStream& S, const TListaPorID& DL) {
  bool bound = false;
  LeerOrigen(S);
  DNombre = LeerCadena(S);
  const std::int32_t count = S.LeerCuenta(4);
  std::vector<TDHilo*> vistos;  // Workers an earlier stored ID stood for already.
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint32_t id = S.LeerNatural();
    TDHilo* DH = nullptr;
    for (std::ptrdiff_t at = BuscarIndicePorID(DL, id); at >= 0 && static_cast<std::size_t>(at) < DL.size() &&
                                                        DL[static_cast<std::size_t>(at)].first == id;
         ++at) {
      TDHilo* candidate = DL[static_cast<std::size_t>(at)].second;
      if (candidate->EsElOrigen() || std::find(vistos.begin(), vistos.end(), candidate) != vistos.end()) continue;
      DH = candidate;
      break;
    }
    if (DH == nullptr) continue;
    vistos.push_back(DH);
    if (!MismoArchivo(Camino(DH->Identidad().Letra, DNombre), Talla, Tiempo.ETiempo)) {
      DList.push_back(DH);
      bound = true;
    } else if ((Atributos & win32::FILE_ATTRIBUTE_DIRECTORY) == 0) {
      DH->ContarOmitido(false);  // For the drive's report.
    }
  }
  return bound;
}

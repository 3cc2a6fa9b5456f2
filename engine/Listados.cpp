#include "engine/Listados.h"

void EscribirTrabajo(TStream& S, std::uint32_t origenID, const std::deque<std::unique_ptr<TFRec>>& registros) {
  S.EscribirNatural(origenID);
  S.EscribirEntero(static_cast<std::int32_t>(registros.size()));
  for (const auto& R : registros) R->EscribirTodo(S);
}

void EscribirRegistrosListado(TStream& S, std::int32_t version, const TListaRegistros& registros) {
  S.EscribirEntero(version);
  S.EscribirEntero(static_cast<std::int32_t>(registros.size()));
  for (const auto& R : registros) R->EscribirOrigen(S);
}

void LeerRegistrosListado(TStream& S, std::int32_t version, TListaRegistros& registros) {
  const std::int32_t stored = S.LeerEntero();
  const std::int32_t count = S.LeerEntero();
  if (stored != version) return;
  if (count < 0) throw EFormato("a listing with a negative count");
  for (std::int32_t i = 0; i < count; ++i) {
    auto R = std::make_unique<TFRec>();
    R->LeerOrigen(S);
    registros.push_back(std::move(R));
  }
}

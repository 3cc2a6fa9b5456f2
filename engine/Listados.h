#pragma once

// The two files made of records: the job file (origin ID, count, full records) and the
// listing file (version, count, origin parts).

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/FRec.h"
#include "engine/Flujos.h"

// The format version at the head of listing and configuration files.
inline constexpr std::int32_t kFileAppVersion = 42649;

using TListaRegistros = std::vector<std::unique_ptr<TFRec>>;

void EscribirTrabajo(TStream& S, std::uint32_t origenID, const std::deque<std::unique_ptr<TFRec>>& registros);

void EscribirRegistrosListado(TStream& S, std::int32_t version, const TListaRegistros& registros);
// Appends the records of a listing written under `version`; a listing of another version
// yields none. On damage the records read before stay in `registros` and EFlujo is thrown.
void LeerRegistrosListado(TStream& S, std::int32_t version, TListaRegistros& registros);

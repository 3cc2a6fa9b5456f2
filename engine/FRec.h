#pragma once

// One file or folder still to be copied from the origin, with the destinations still to
// receive it (first = first served). Records in the origin's FList are only touched under
// that list's lock, so a record has no lock of its own.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/Tipos.h"

class TDHilo;
class TEspera;
class TAbrirCarpeta;
class TAbrirArchivoVacio;
class TAbrirArchivo;
class TLeerArchivo;
class TCerrarArchivo;
class TStream;

class TFRec {
 public:
  std::int64_t DTalla(std::uint32_t SectorSize) const { return Redondear(Talla, SectorSize); }
  // Every destination's expected total grows by the size rounded to its own sectors.
  void AddDFin() const;
  bool EncontrarDestino(TDHilo* DH) const;
  bool EliminarDestino(TDHilo* DH);
  bool PriorizarDH(TDHilo* DH);
  void AgregarDestinos(const TFRec& FR);

  std::unique_ptr<TAbrirCarpeta> IOCarpeta() const;
  std::unique_ptr<TAbrirArchivoVacio> IOArchivoVacio() const;
  std::unique_ptr<TAbrirArchivo> IOAbrirArchivo() const;
  std::unique_ptr<TLeerArchivo> IOLeerArchivo(TDHilo* OD, std::int64_t& OPos) const;
  std::unique_ptr<TCerrarArchivo> IOCerrarArchivo() const;
  // Appends the record's source operations to the origin's operation list.
  void LlenarIOList(TDHilo* OD, std::deque<std::unique_ptr<TEspera>>& IOL) const;

  // Stream forms. The readers throw EFormato on a count the stream cannot hold.
  void EscribirOrigen(TStream& S) const;
  void LeerOrigen(TStream& S);
  void EscribirTodo(TStream& S) const;
  // Binds each stored destination ID to the worker in DL (sorted by ID) that has it, unless
  // that drive already holds the same item; true when at least one was bound.
  bool LeerTodo(TStream& S, const std::vector<TDHilo*>& DL);

  std::vector<TDHilo*> DList;
  std::u16string ONombre;
  std::u16string DNombre;
  std::int64_t Talla = 0;
  std::uint32_t Atributos = 0;
  TFTiempo Tiempo{};
};

// Does the path already hold the item: a folder, or a file of that size whose last-write
// time agrees to the minute.
bool MismoArchivo(const std::u16string& camino, std::int64_t Talla, const win32::FILETIME& ETiempo);

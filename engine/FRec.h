#pragma once

// One file or folder still to be copied from the origin, with the destinations still to
// receive it (first = first served). Records in the origin's FList are only touched under
// that list's lock, so a record has no lock of its own.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Tipos.h"

class TDHilo;
class TEspera;
class TAbrirCarpeta;
class TAbrirArchivoVacio;
class TAbrirArchivo;
class TArchivoAusente;
class TLeerArchivo;
class TCerrarArchivo;
class TStream;

// Workers with the volume serial each had when the list was made, sorted by it (unsigned).
// The serial is copied once: a worker may adopt a new one on its own thread meanwhile.
using TListaPorID = std::vector<std::pair<std::uint32_t, TDHilo*>>;

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
  // The operations of a file whose source could not be looked at: an open that starts
  // nothing and the close, the shape of a file's operations without a read.
  void LlenarIOListAusente(std::deque<std::unique_ptr<TEspera>>& IOL) const;
  // Appends the record's source operations to the origin's operation list.
  void LlenarIOList(TDHilo* OD, std::deque<std::unique_ptr<TEspera>>& IOL) const;

  // Stream forms. The readers throw EFormato on a count the stream cannot hold.
  void EscribirOrigen(TStream& S) const;
  void LeerOrigen(TStream& S);
  void EscribirTodo(TStream& S) const;
  // Binds each stored destination ID to a worker in DL that has it, unless that drive already
  // holds the same item; true when at least one was bound. A worker is bound once, however
  // often its ID is stored, and the origin never: drives cloned from one image share an ID,
  // and each stored copy of it stands for one of them.
  bool LeerTodo(TStream& S, const TListaPorID& DL);

  std::vector<TDHilo*> DList;
  std::u16string ONombre;
  std::u16string DNombre;
  std::int64_t Talla = 0;
  std::uint32_t Atributos = 0;
  TFTiempo Tiempo{};
  // The file will be read again for destinations split off behind the others: its pages
  // stay in the cache until that read.
  bool OtraLectura = false;
};

// Does the path already hold the item: a folder, or a file of that size whose last-write
// time agrees to the minute.
bool MismoArchivo(const std::u16string& camino, std::int64_t Talla, const win32::FILETIME& ETiempo);

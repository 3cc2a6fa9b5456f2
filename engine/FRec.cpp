#include "engine/FRec.h"

#include <algorithm>

#include "engine/DHilo.h"
#include "engine/OperacionesOrigen.h"
#include "engine/Progreso.h"
#include "platform/files.h"

using namespace win32;

namespace {

template <class Op>
std::unique_ptr<Op> Operacion(const TFRec& R) {
  auto op = std::make_unique<Op>();
  op->ONombre = R.ONombre;
  op->DNombre = R.DNombre;
  op->FAtributos = R.Atributos;
  op->FTiempo = R.Tiempo;
  for (TDHilo* DH : R.DList) op->DList.Add(DH);
  return op;
}

}  // namespace

void TFRec::AddDFin() const {
  for (TDHilo* DH : DList) DH->AddDFin(DH->DTalla(Talla));
}

bool TFRec::EncontrarDestino(TDHilo* DH) const { return std::find(DList.begin(), DList.end(), DH) != DList.end(); }

bool TFRec::EliminarDestino(TDHilo* DH) {
  for (auto it = DList.rbegin(); it != DList.rend(); ++it) {
    if (*it == DH) {
      DList.erase(std::next(it).base());
      return true;
    }
  }
  return false;
}

bool TFRec::PriorizarDH(TDHilo* DH) {
  for (auto it = DList.rbegin(); it != DList.rend(); ++it) {
    if (*it == DH) {
      std::rotate(DList.begin(), std::next(it).base(), it.base());
      return true;
    }
  }
  return false;
}

void TFRec::AgregarDestinos(const TFRec& FR) { DList.insert(DList.end(), FR.DList.begin(), FR.DList.end()); }

std::unique_ptr<TAbrirCarpeta> TFRec::IOCarpeta() const { return Operacion<TAbrirCarpeta>(*this); }

std::unique_ptr<TAbrirArchivoVacio> TFRec::IOArchivoVacio() const { return Operacion<TAbrirArchivoVacio>(*this); }

std::unique_ptr<TAbrirArchivo> TFRec::IOAbrirArchivo() const {
  auto op = Operacion<TAbrirArchivo>(*this);
  op->FStr = u" " + TallaStr(Talla);
  op->FTalla = Talla;
  return op;
}

std::unique_ptr<TLeerArchivo> TFRec::IOLeerArchivo(TDHilo* OD, std::int64_t& OPos) const {
  auto op = Operacion<TLeerArchivo>(*this);
  if (Talla < OPos + kBloque) {
    op->BufBytes = OD->DTalla(Talla - OPos);
    op->Bloque = OD->DMaxTalla(Talla - OPos);
  } else {
    op->BufBytes = kBloque;
    op->Bloque = kBloque;
  }
  op->FPos = OPos;
  op->FTalla = Talla;
  op->SetOverlappedPos(OPos);
  op->FStr = u" " + TallaStr(Talla) + u" " + Utf16Decimal(OPos * 100 / Talla) + u"%";
  OPos += op->BufBytes;
  return op;
}

std::unique_ptr<TCerrarArchivo> TFRec::IOCerrarArchivo() const {
  auto op = Operacion<TCerrarArchivo>(*this);
  op->ConservarCache = OtraLectura;
  op->FStr = u" " + TallaStr(Talla) + u" 100%";
  op->FPos = Talla;
  op->FTalla = Talla;
  return op;
}

// The open never completes, so the close never runs: it only keeps the origin's list from
// taking the next record while the open is awaited, as a file's reads do; the error path
// discards it with the rest of the file.
void TFRec::LlenarIOListAusente(std::deque<std::unique_ptr<TEspera>>& IOL) const {
  auto op = Operacion<TArchivoAusente>(*this);
  op->FStr = u" " + TallaStr(Talla);
  op->FTalla = Talla;
  IOL.push_back(std::move(op));
  IOL.push_back(IOCerrarArchivo());
}

void TFRec::LlenarIOList(TDHilo* OD, std::deque<std::unique_ptr<TEspera>>& IOL) const {
  if ((Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    IOL.push_back(IOCarpeta());
  } else if (Talla == 0) {
    IOL.push_back(IOArchivoVacio());
  } else {
    IOL.push_back(IOAbrirArchivo());
    std::int64_t position = 0;
    while (position < Talla) IOL.push_back(IOLeerArchivo(OD, position));
    IOL.push_back(IOCerrarArchivo());
  }
}

bool MismoArchivo(const std::u16string& camino, std::int64_t Talla, const FILETIME& ETiempo) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(camino, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  SYSTEMTIME a, b;
  if (!FileTimeToSystemTime(&data.ftLastWriteTime, &a) || !FileTimeToSystemTime(&ETiempo, &b)) return false;
  const std::int64_t size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                                      data.nFileSizeLow);
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && size == Talla;
}

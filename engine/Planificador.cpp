// The origin's scheduler and the operations on its file list.

#include <algorithm>
#include <limits>

#include "engine/DHilo.h"
#include "engine/Flujos.h"
#include "engine/OperacionesOrigen.h"
#include "platform/files.h"

using namespace win32;

namespace {

using ListaOps = std::deque<std::unique_ptr<TEspera>>;
using ListaRegistros = std::deque<std::unique_ptr<TFRec>>;

}  // namespace

void TDHilo::ContinuarOrigen() {
  // Released outside the lock: freeing buffers is no work to do while others wait.
  std::unique_ptr<TEspera> hecha = std::move(IOLast);
  IOLast = std::move(IONext);
  LiberarIOList.Extraer();
  hecha.reset();
  // Withdrawn destinations go before a record is taken, so that a record put back for
  // them is not read for nobody.
  EliminarDestinos();

  // Half of the memory the copy may use; the difference is halved as an unsigned number.
  const std::uint64_t mitad =
      static_cast<std::uint64_t>(Ajustes.MemoriaTotal.load() - Ajustes.MemoriaLibre.load()) / 2;
  const std::int64_t T = mitad > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                             ? std::numeric_limits<std::int64_t>::max()
                             : static_cast<std::int64_t>(mitad);

  // The record to read now is chosen under the locks; its source is looked at after they
  // are released (a slow drive must not hold them), and its operations are queued after.
  std::unique_ptr<TFRec> R;
  IOList.Con([&](ListaOps& iol) {
    if (!iol.empty()) {
      PrepararSiguiente(iol);
      return;
    }
    FList.Con([&](ListaRegistros& fl) {
      if (fl.empty()) {
        NuevaEspera();
        return;
      }
      R = TomarRegistro(fl, T);
    });
  });
  if (R) {
    const bool vista = Actualizar(*R);
    IOList.Con([&](ListaOps& iol) {
      if (vista) {
        R->LlenarIOList(this, iol);
      } else {
        R->LlenarIOListAusente(iol);
      }
      PrepararSiguiente(iol);
    });
  }
  // A release that came between this turn's look at the list and the flag must not wait
  // for the end of the placeholder's turn.
  if (esperaMemoria_.load() && !LiberarIOList.Con([](const ListaOps& l) { return l.empty(); })) {
    despertador_.Despertar();
  }
  ActualizarCapacidad();
}

// With IOList's and FList's locks held by the caller. The lowest-indexed record whose first
// destination is not too far behind, or the first record; scanning from the front and
// stopping at the first one chooses the same record as a scan of the whole list, without
// reading every backlog each turn. Destinations far behind the others get this file later,
// in a copy of the record put at the end of the list.
std::unique_ptr<TFRec> TDHilo::TomarRegistro(ListaRegistros& fl, std::int64_t T) {
  std::size_t sel = 0;
  std::vector<std::pair<TDHilo*, std::int64_t>> leidos;  // Backlogs read in this turn.
  const auto cache = [&](TDHilo* DH) {
    for (const auto& [hilo, valor] : leidos) {
      if (hilo == DH) return valor;
    }
    const std::int64_t valor = DH->GetCache();
    leidos.emplace_back(DH, valor);
    return valor;
  };
  for (std::size_t k = 0; k < fl.size(); ++k) {
    if ((fl[k]->DList.empty() ? 0 : cache(fl[k]->DList.front())) < T) {
      sel = k;
      break;
    }
  }
  std::unique_ptr<TFRec> R = std::move(fl[sel]);
  fl.erase(fl.begin() + static_cast<std::ptrdiff_t>(sel));

  std::int64_t ref = 0;
  for (TDHilo* DH : R->DList) {
    ref = DH->GetCache();
    if (ref < T) break;
  }
  std::unique_ptr<TFRec> S;
  for (std::size_t k = R->DList.size(); k-- > 1;) {
    const std::int64_t d = R->DList[k]->GetCache() - ref;
    if (d > T || d > R->Talla) {
      if (!S) {
        S = std::make_unique<TFRec>();
        S->ONombre = R->ONombre;
        S->DNombre = R->DNombre;
        S->Talla = R->Talla;
        S->Tiempo = R->Tiempo;
        S->Atributos = R->Atributos;
        AddDFin(DTalla(R->Talla));  // The file will be read once more.
      }
      S->DList.push_back(R->DList[k]);
      R->DList.erase(R->DList.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }
  if (S) {
    R->OtraLectura = true;
    fl.push_back(std::move(S));
  }
  return R;
}

// No lock held. A file is copied as its source is now: a size, times or attributes that
// changed since the record was made (a file written meanwhile, or a damaged job file) are
// taken from the source, and every total that counted the old size is corrected. False when
// the source cannot be looked at: then no read is built for a size nobody confirmed.
bool TDHilo::Actualizar(TFRec& R) {
  if ((R.Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Camino(HRec.Letra, R.ONombre), &data)) return R.Talla == 0;
  // A FIFO or device has no size of its own: the record says how much to read.
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return true;
  const std::int64_t talla =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  if (talla != R.Talla) {
    AddDFin(DTalla(talla) - DTalla(R.Talla));
    for (TDHilo* DH : R.DList) DH->AddDFin(DH->DTalla(talla) - DH->DTalla(R.Talla));
    R.Talla = talla;
  }
  R.Tiempo = {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
  R.Atributos = data.dwFileAttributes;
  return true;
}

// With IOList's lock held by the caller. A read whose buffer cannot be had yet stays at the
// head of the queue; the origin waits one placeholder turn and tries again.
void TDHilo::PrepararSiguiente(ListaOps& iol) {
  if (iol.front()->CrearBuf(Ajustes.MemoriaLibre.load())) {
    esperaMemoria_.store(false);
    IONext = std::move(iol.front());
    iol.pop_front();
  } else {
    esperaMemoria_.store(true);
    NuevaEspera();
  }
}

void TDHilo::EliminarFiles(TDHilo* DH) {
  try {
    FList.Con([&](ListaRegistros& fl) {
      for (std::size_t k = fl.size(); k-- > 0;) {
        TFRec& R = *fl[k];
        if (R.EliminarDestino(DH) && R.DList.empty()) {
          AddDFin(-DTalla(R.Talla));
          fl.erase(fl.begin() + static_cast<std::ptrdiff_t>(k));
        }
      }
    });
  } catch (...) {
  }
}

void TDHilo::PriorizarDestino(TDHilo* DH) {
  try {
    FList.Con([&](ListaRegistros& fl) {
      std::sort(fl.begin(), fl.end(), [](const std::unique_ptr<TFRec>& a, const std::unique_ptr<TFRec>& b) {
        return a->DList.size() > b->DList.size();
      });
      std::size_t idx = 0;
      for (std::size_t turn = fl.size(); turn > 0; --turn) {
        if (fl[idx]->PriorizarDH(DH)) {
          ++idx;
        } else {
          std::unique_ptr<TFRec> R = std::move(fl[idx]);
          fl.erase(fl.begin() + static_cast<std::ptrdiff_t>(idx));
          fl.push_back(std::move(R));
        }
      }
    });
  } catch (...) {
  }
}

// The shares are posted before the record is queued: once queued, the origin may take it.
void TDHilo::LeerFR(TStream& FS, const TListaPorID& IDL) {
  auto R = std::make_unique<TFRec>();
  if (!R->LeerTodo(FS, IDL)) return;
  R->AddDFin();
  AddDFin(DTalla(R->Talla));
  FList.Add(std::move(R));
}

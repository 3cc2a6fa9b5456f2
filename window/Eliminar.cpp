// Remove mode: a drop deletes the dropped items on the selected destinations and withdraws
// their waiting copies.

#include <QCoreApplication>

#include <algorithm>

#include "platform/files.h"
#include "window/FormDList.h"
#include "window/Pausa.h"

using namespace win32;

void TFormDList::RamaEliminar(TListaRegistros& soltados, std::deque<std::unique_ptr<TFRec>>& cola) {
  std::stable_sort(soltados.begin(), soltados.end(), [](const auto& a, const auto& b) { return CompararNombre(*a, *b) < 0; });
  QCoreApplication::processEvents();
  const std::vector<TFRec*> porNombre = Punteros(soltados);
  std::vector<TDHilo*> destinos;
  for (TDHilo* worker : DList) {
    if (worker->Seleccionado) destinos.push_back(worker);
  }
  for (std::size_t i = cola.size(); i-- > 0;) {
    TFRec& R = *cola[i];
    if (BuscarFR(porNombre, R.ONombre) == nullptr) continue;
    for (TDHilo* DH : destinos) {
      if (R.EncontrarDestino(DH)) {
        R.EliminarDestino(DH);
        DH->AddDFin(-DH->DTalla(R.Talla));
      }
    }
  }
  QCoreApplication::processEvents();
  // Longest paths first: what is inside a folder goes before the folder.
  std::stable_sort(soltados.begin(), soltados.end(), [](const auto& a, const auto& b) { return CompararLongitud(*a, *b) < 0; });
  QCoreApplication::processEvents();
  const std::size_t m = destinos.size(), n = soltados.size();
  for (std::size_t k = 0; k < m; ++k) {
    TDHilo* DH = destinos[k];
    const THRec rec = DH->Identidad();
    ProgresoTexto = u"Eliminando en " + rec.Nombre + u"(" + rec.Letra + u":)";
    TPausa pausa(DH);
    for (std::size_t i = 0; i < n; ++i) {
      const TFRec& R = *soltados[i];
      const std::u16string path = Camino(rec.Letra, R.DNombre);
      if ((R.Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(path);
      } else {
        DeleteFileW(path);
      }
      RefrescarProgreso([&] { ProgresoValor = ValorProgreso(static_cast<std::int64_t>(k * n + i), static_cast<std::int64_t>(m * n)); });
    }
  }
}

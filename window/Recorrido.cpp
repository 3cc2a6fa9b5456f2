// Folder walks into file records, the two record orders and the search by name, the
// listing file of a drive, and the progress refresh that long window operations share.

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

#include "engine/Busqueda.h"
#include "engine/Flujos.h"
#include "engine/Progreso.h"
#include "platform/files.h"
#include "window/FormDList.h"

using namespace win32;

namespace {

// Deeper than this the walk records a folder but does not enter it: no real tree gets
// there, since a path would no longer fit the system's limit on path length.
constexpr std::size_t kProfundidadMaxima = 1024;

char16_t Plegar(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

}  // namespace

int CompararTexto(const std::u16string& a, const std::u16string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = Plegar(a[i]), y = Plegar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int CompararNombre(const TFRec& a, const TFRec& b) { return CompararTexto(a.ONombre, b.ONombre); }

int CompararLongitud(const TFRec& a, const TFRec& b) {
  return static_cast<int>(b.ONombre.size()) - static_cast<int>(a.ONombre.size());
}

TFRec* BuscarFR(const std::vector<TFRec*>& lista, const std::u16string& nombre) {
  const std::ptrdiff_t at = BuscarPrimero(lista, [&](const TFRec* R) { return CompararTexto(R->ONombre, nombre); });
  return at < 0 ? nullptr : lista[static_cast<std::size_t>(at)];
}

void OrdenarPorNombre(TListaRegistros& lista) {
  std::stable_sort(lista.begin(), lista.end(), [](const auto& a, const auto& b) { return CompararNombre(*a, *b) < 0; });
}

std::vector<TFRec*> Punteros(const TListaRegistros& lista) {
  std::vector<TFRec*> out;
  out.reserve(lista.size());
  for (const auto& R : lista) out.push_back(R.get());
  return out;
}

int TFormDList::ValorProgreso(std::int64_t hecho, std::int64_t total) const {
  return total <= 0 ? 0 : static_cast<int>(static_cast<std::int64_t>(PBMemoria->width()) * hecho / total);
}

void TFormDList::RefrescarProgreso(const std::function<void()>& actualizar) {
  const TDateTime now = Now();
  if (static_cast<std::int64_t>((now - LDT) * 86400000.0) > TimerV->interval()) {
    actualizar();
    LDT = now;
    PBMemoria->update();
    QCoreApplication::processEvents();
  }
  if (interrumpir_) throw EInterrumpido();
}

void TFormDList::Interrumpir() {
  if (operacionEnCurso_) interrumpir_ = true;
}

// The walk of the outermost call: made when it starts, gone when it ends, also by an
// exception, so no later walk inherits what this one was inside of. It stays on the mount
// of the drive it starts on.
class TRecorridoEnCurso {
 public:
  TRecorridoEnCurso(TFormDList& form, const std::u16string& camino) : form_(form) {
    if (form_.recorrido_ != nullptr) return;
    form_.recorrido_ = &propio_;
    propia_ = true;
    std::uint64_t volume = 0, file = 0;
    if (!camino.empty()) {
      propio_.conMontaje = GetFileIdentity(std::u16string(u"\\\\?\\") + camino[0] + u":\\", &volume, &file, &propio_.montaje);
    }
  }
  ~TRecorridoEnCurso() {
    if (propia_) form_.recorrido_ = nullptr;
  }
  TRecorridoEnCurso(const TRecorridoEnCurso&) = delete;
  TRecorridoEnCurso& operator=(const TRecorridoEnCurso&) = delete;
  TRecorrido& operator*() { return *form_.recorrido_; }

 private:
  TFormDList& form_;
  TRecorrido propio_;
  bool propia_ = false;
};

void TFormDList::RecorrerCarpeta(TListaRegistros& lista, const std::u16string& carpeta, std::size_t prefijo) {
  TRecorridoEnCurso walk(*this, carpeta);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(u"\\\\?\\" + carpeta + u"*.*", &data);
  if (find == INVALID_HANDLE_VALUE) return;
  try {
    do {
      AgregarArchivo(lista, carpeta + data.cFileName, data, prefijo);
    } while (FindNextFileW(find, &data));
  } catch (...) {
    FindClose(find);
    throw;
  }
  FindClose(find);
}

// A symbolic link is copied as the file it leads to; one that leads to a folder (or to
// nothing, or to a FIFO) is left out, so a walk never follows a link out of its tree. A
// folder on another mount (another drive, /proc, a bind mount) is recorded but not entered.
// Nor is a folder the walk is already inside of: its content is already being walked.
void TFormDList::AgregarArchivo(TListaRegistros& lista, const std::u16string& camino, const WIN32_FIND_DATAW& data,
                                std::size_t prefijo) {
  if (data.cFileName == u"." || data.cFileName == u"..") return;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE) == 0) {
    return;
  }
  TRecorridoEnCurso walk(*this, camino);
  auto R = std::make_unique<TFRec>();
  R->ONombre = camino.size() > 3 ? camino.substr(3) : std::u16string();
  R->DNombre = camino.size() > prefijo ? camino.substr(prefijo) : std::u16string();
  R->Talla = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  R->Atributos = data.dwFileAttributes;
  R->Tiempo = {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
  const bool carpeta = (R->Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
  lista.push_back(std::move(R));
  RefrescarProgreso([&] { ProgresoTexto = u"Creando lista " + Utf16Decimal(static_cast<std::int64_t>(lista.size())); });
  TRecorrido& estado = *walk;
  if (!carpeta || estado.dentro.size() >= kProfundidadMaxima) return;
  std::uint64_t volume = 0, file = 0, mount = 0;
  if (!GetFileIdentity(u"\\\\?\\" + camino, &volume, &file, &mount)) return;
  if (estado.conMontaje && mount != estado.montaje) return;
  const std::pair<std::uint64_t, std::uint64_t> identity{volume, file};
  if (std::find(estado.dentro.begin(), estado.dentro.end(), identity) != estado.dentro.end()) return;
  estado.dentro.push_back(identity);
  RecorrerCarpeta(lista, camino + u"\\", prefijo);
  estado.dentro.pop_back();
}

std::u16string TFormDList::ArchivoListado(const TDHilo* worker) const {
  return std::u16string(1, worker->Identidad().Letra) + u":\\" + kNombreAplicacion + u".lst";
}

void TFormDList::GuardarListado(TDHilo* worker, const TListaRegistros& lista) {
  ProgresoTexto = u"Guardando listado en " + worker->Identidad().Nombre;
  try {
    TFileStream file(ArchivoListado(worker), TFileStream::Modo::Crear);
    file.EscribirEntero(FileAppVersion);
    file.EscribirEntero(static_cast<std::int32_t>(lista.size()));
    for (std::size_t i = 0; i < lista.size(); ++i) {
      lista[i]->EscribirOrigen(file);
      RefrescarProgreso([&] {
        ProgresoValor = ValorProgreso(static_cast<std::int64_t>(i) + 1, static_cast<std::int64_t>(lista.size()));
      });
    }
    file.Cerrar();
  } catch (const EFlujo&) {
  }
}

TListaRegistros TFormDList::LeerListado(TDHilo* worker) {
  TListaRegistros lista;
  try {
    TFileStream file(ArchivoListado(worker), TFileStream::Modo::Leer);
    LeerRegistrosListado(file, FileAppVersion, lista);
  } catch (const EFlujo&) {
  }
  return lista;
}

#include "tests/window/Ventana.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <chrono>
#include <thread>

namespace prueba {

using namespace win32;

bool EsperarVentana(const std::function<bool()>& condicion, int milisegundos) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milisegundos);
  while (std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents();
    if (condicion()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  QCoreApplication::processEvents();
  return condicion();
}

void Procesar(int milisegundos) {
  EsperarVentana([] { return false; }, milisegundos);
}

Ventana::Ventana(const Unidades& unidades, FabricaServidor fabrica, std::string carpetaConfiguracion)
    : carpetaConfig(carpetaConfiguracion.empty() ? config.path() : std::move(carpetaConfiguracion)) {
  CambiarUnidades(unidades);
  if (!fabrica) {
    fabrica = [this](std::function<TEstadoPagina()>) {
      auto stand = std::make_unique<ServidorDePrueba>();
      servidor = stand.get();
      return stand;
    };
  }
  form_ = std::make_unique<TFormDList>(fabrica, carpetaConfig);
  form_->MostrarMensaje = [this](const QString& text) { mensajes.push_back(text); };
  // The workers adopt the identities of the first refresh within a turn.
  EsperarVentana([this] {
    for (TDHilo* worker : form_->Dispositivos()) {
      if (worker->Identidad().Letra == worker->GetAppRec().Letra) continue;
      return false;
    }
    return true;
  }, 5000);
}

Ventana::~Ventana() {
  form_.reset();
  UseSystemDriveTable();
}

void Ventana::CambiarUnidades(const Unidades& unidades) {
  std::vector<TestDrive> table;
  for (const Unidad& u : unidades) {
    std::string path = u.carpeta;
    if (path.empty()) {
      auto& folder = carpetas_[u.letra];
      if (!folder) folder = std::make_unique<TempDir>();
      path = folder->path();
    } else {
      externas_[u.letra] = path;
    }
    table.push_back({u.letra, path, u.tipo, u.etiqueta, u.serie != 0 ? u.serie : 0x100u + u.letra, u.sector});
  }
  InstallDriveTable(table);
}

std::string Ventana::Carpeta(char16_t letra) {
  if (auto known = externas_.find(letra); known != externas_.end()) return known->second;
  auto& folder = carpetas_[letra];
  if (!folder) folder = std::make_unique<TempDir>();
  return folder->path();
}

TDHilo* Ventana::Hilo(char16_t letra) {
  for (TDHilo* worker : form_->Dispositivos()) {
    if (worker->GetAppRec().Letra == letra) return worker;
  }
  return nullptr;
}

int Ventana::Fila(char16_t letra) {
  const auto& list = form_->Dispositivos();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->GetAppRec().Letra == letra) return static_cast<int>(i);
  }
  return -1;
}

void Ventana::Seleccionar(const std::vector<char16_t>& letras) {
  form_->DListBox->clearSelection();
  for (char16_t letra : letras) {
    const int row = Fila(letra);
    if (row >= 0) form_->DListBox->item(row)->setSelected(true);
  }
}

void Ventana::Soltar(const std::vector<std::string>& caminos) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const std::string& path : caminos) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
  data->setUrls(urls);
  QWidget* target = form_->DListBox->viewport();
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  delete data;
  // The window handles the drop after the event, as the file manager's drag has ended.
  QCoreApplication::sendPostedEvents();
}

}  // namespace prueba

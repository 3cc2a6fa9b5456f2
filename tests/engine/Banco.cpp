#include "tests/engine/Banco.h"

#include <chrono>
#include <thread>

#include "platform/drives.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/thread.h"

namespace prueba {

using namespace win32;

bool Esperar(const std::function<bool()>& condicion, int milisegundos) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milisegundos);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condicion()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condicion();
}

Banco::Banco(const std::vector<DefUnidad>& unidades) : unidades_(unidades) {
  ajustes.MemoriaTotal = 8LL << 30;
  ajustes.MemoriaLibre = 0;
  std::vector<TestDrive> table;
  std::uint32_t maximo = 4096;
  for (const DefUnidad& u : unidades) {
    carpetas_[u.letra] = std::make_unique<TempDir>();
    table.push_back({u.letra, carpetas_[u.letra]->path(), DRIVE_FIXED, u"", 0x1000u + u.letra, u.sector});
    maximo = std::max(maximo, u.sector);
  }
  InstallDriveTable(table);
  for (const DefUnidad& u : unidades) {
    TDHilo* hilo = new TDHilo(ajustes);
    THRec rec;
    rec.Nombre = u"Disco " + std::u16string(1, u.letra);
    rec.Letra = u.letra;
    rec.ID = 0x1000u + u.letra;
    rec.SectorSize = u.sector;
    rec.MaxSectorSize = maximo;
    hilo->SetAppRec(rec);
    hilos_[u.letra] = hilo;
  }
  for (const DefUnidad& u : unidades) {
    TDHilo* hilo = hilos_[u.letra];
    Esperar([&] { return hilo->Identidad().Letra == u.letra; }, 5000);
  }
}

Banco::~Banco() {
  Terminar();
  UseSystemDriveTable();
}

std::vector<TDHilo*> Banco::Destinos() const {
  std::vector<TDHilo*> destinos;
  for (const auto& [letra, hilo] : hilos_) {
    if (hilo != origen_) destinos.push_back(hilo);
  }
  return destinos;
}

void Banco::AsignarOrigen(char16_t letra) {
  origen_ = hilos_.at(letra);
  origen_->EsOrigen();
  for (TDHilo* destino : Destinos()) {
    destino->AsignarOD(origen_);
    destino->EsDestino();
  }
}

void Banco::AsignarOrigenConDestinosQuietos(char16_t letra) {
  origen_ = hilos_.at(letra);
  origen_->EsOrigen();
  for (TDHilo* destino : Destinos()) destino->AsignarOD(origen_);
}

std::unique_ptr<TFRec> Banco::Registro(const std::string& nombre, const std::vector<char16_t>& destinos) {
  const std::u16string relativo = NameFromNative(nombre);
  std::u16string camino;
  for (char16_t c : relativo) camino += c == u'/' ? u'\\' : c;
  WIN32_FIND_DATAW data;
  const std::u16string path = std::u16string(u"\\\\?\\") + origen_->Identidad().Letra + u":\\" + camino;
  HANDLE find = FindFirstFileW(path, &data);
  auto R = std::make_unique<TFRec>();
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    R->Talla = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    R->Atributos = data.dwFileAttributes;
    R->Tiempo = {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
  }
  R->ONombre = camino;
  R->DNombre = camino;
  for (char16_t letra : destinos) R->DList.push_back(hilos_.at(letra));
  return R;
}

void Banco::EncolarOperaciones(const TFRec& R) {
  R.AddDFin();
  origen_->AddDFin(origen_->DTalla(R.Talla));
  origen_->IOList.Con([&](std::deque<std::unique_ptr<TEspera>>& iol) { R.LlenarIOList(origen_, iol); });
}

void Banco::EncolarRegistro(std::unique_ptr<TFRec> R) {
  R->AddDFin();
  origen_->AddDFin(origen_->DTalla(R->Talla));
  origen_->FList.Add(std::move(R));
}

void Banco::Retirar(char16_t letra) {
  TDHilo* hilo = hilos_.at(letra);
  hilos_.erase(letra);
  origen_->EliminarFiles(hilo);
  origen_->EliminarDestinosList.Add(hilo);
}

void Banco::Terminar() {
  if (terminado_) return;
  terminado_ = true;
  if (origen_ != nullptr) {
    for (TDHilo* destino : Destinos()) origen_->EliminarDestinosList.Add(destino);
    origen_->Terminate();
  } else {
    for (const auto& [letra, hilo] : hilos_) hilo->Terminate();
  }
  hilos_.clear();
  TThread::WaitForAll(30000);
}

TDHilo* Banco::DestinoEnVolumen(const std::string& montaje, const std::u16string& nombre, std::uint32_t id) {
  InstallDriveTable({{u'E', Carpeta(u'E'), DRIVE_FIXED, u"", id - 1, 512},
                     {u'F', montaje, DRIVE_REMOVABLE, nombre, id, 512},
                     {u'G', Carpeta(u'G'), DRIVE_FIXED, u"", id + 1, 4096}});
  auto* F = new TDHilo(ajustes);
  THRec rec;
  rec.Nombre = nombre;
  rec.Letra = u'F';
  rec.ID = id;
  rec.MaxSectorSize = 4096;
  F->SetAppRec(rec);
  if (!Esperar([&] { return F->Identidad().Letra == u'F'; })) return nullptr;
  AsignarOrigen(u'E');
  F->AsignarOD(Hilo(u'E'));
  F->EsDestino();
  return F;
}

}  // namespace prueba

#pragma once

// A bench for window tests: the real window over folders installed as drives.

#include <QCoreApplication>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "tests/support/Fixtures.h"
#include "window/FormDList.h"

namespace prueba {

// Records what the settings ask of it; it can be told that the port is taken.
class ServidorDePrueba : public TServidor {
 public:
  std::uint16_t Puerto() const override { return puerto; }
  void SetPuerto(std::uint16_t p) override { puerto = p; }
  bool Activo() const override { return activo; }
  bool Iniciar() override {
    ++inicios;
    if (puertoOcupado) return false;
    activo = true;
    return true;
  }
  void Detener() override { activo = false; }
  std::uint16_t puerto = 80;
  bool activo = false;
  bool puertoOcupado = false;
  int inicios = 0;
};

struct Unidad {
  Unidad(char16_t l, win32::DWORD t = win32::DRIVE_FIXED, std::u16string e = {}, win32::DWORD s = 0,
         win32::DWORD sec = 512, std::string c = {})
      : letra(l), tipo(t), etiqueta(std::move(e)), serie(s), sector(sec), carpeta(std::move(c)) {}
  char16_t letra;
  win32::DWORD tipo;
  std::u16string etiqueta;
  win32::DWORD serie;  // 0: one made from the letter
  win32::DWORD sector;
  std::string carpeta;  // empty: a folder of the bench's own
};
using Unidades = std::vector<Unidad>;

class Ventana {
 public:
  // Folders for the drives are made here; the window reads its configuration from `config`.
  explicit Ventana(const Unidades& unidades, FabricaServidor fabrica = {}, std::string carpetaConfiguracion = {});
  Ventana(const Ventana&) = delete;
  Ventana& operator=(const Ventana&) = delete;
  ~Ventana();

  // Changes the drive table as a drive refresh will find it.
  void CambiarUnidades(const Unidades& unidades);
  std::string Carpeta(char16_t letra);
  TFormDList& form() { return *form_; }
  TDHilo* Hilo(char16_t letra);
  int Fila(char16_t letra);
  void Seleccionar(const std::vector<char16_t>& letras);
  // Drops native paths the way a file manager does.
  void Soltar(const std::vector<std::string>& caminos);

  TempDir config;
  std::string carpetaConfig;  // config, unless the test gave another folder
  ServidorDePrueba* servidor = nullptr;  // Owned by the window when the stand-in is used.
  std::vector<QString> mensajes;

 private:
  std::map<char16_t, std::unique_ptr<TempDir>> carpetas_;
  std::map<char16_t, std::string> externas_;
  std::unique_ptr<TFormDList> form_;
};

// Runs the event loop until the condition holds; false after the time-out.
bool EsperarVentana(const std::function<bool()>& condicion, int milisegundos = 30000);
// Runs the event loop for a while.
void Procesar(int milisegundos);

}  // namespace prueba

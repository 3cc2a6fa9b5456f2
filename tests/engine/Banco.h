#pragma once

// A bench for engine tests: folders installed as drives, one worker per drive, roles given
// the way the window gives them, and an orderly end that waits for every worker.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Ajustes.h"
#include "engine/DHilo.h"
#include "engine/FRec.h"
#include "tests/support/Fixtures.h"

namespace prueba {

struct DefUnidad {
  char16_t letra;
  std::uint32_t sector;
};

class Banco {
 public:
  explicit Banco(const std::vector<DefUnidad>& unidades);
  ~Banco();

  TDHilo* Hilo(char16_t letra) { return hilos_.at(letra); }
  std::string Carpeta(char16_t letra) const { return carpetas_.at(letra)->path(); }
  std::vector<TDHilo*> Destinos() const;

  // The drive becomes the origin and every other one its destination.
  void AsignarOrigen(char16_t letra);
  // The drive becomes the origin; the others are bound to it but get no role, so that
  // their queues keep whatever they are given.
  void AsignarOrigenConDestinosQuietos(char16_t letra);
  // A record for a file or folder under the origin's folder, by its relative native name.
  std::unique_ptr<TFRec> Registro(const std::string& nombre, const std::vector<char16_t>& destinos);
  // Queues a record's operations straight onto the origin's operation list.
  void EncolarOperaciones(const TFRec& R);
  // Queues a record in the origin's file list, with its totals.
  void EncolarRegistro(std::unique_ptr<TFRec> R);
  // A destination on a real volume beside the bench's folders: E stays the origin, F is the
  // volume, G the bench's G. The caller withdraws it (EliminarDestinosList) before the end.
  TDHilo* DestinoEnVolumen(const std::string& montaje, const std::u16string& nombre, std::uint32_t id);
  // Withdraws a destination the way the window's cancel does.
  void Retirar(char16_t letra);
  // Ends every worker the way the window's close does and waits for them.
  void Terminar();

  TAjustes ajustes;

 private:
  std::map<char16_t, std::unique_ptr<TempDir>> carpetas_;
  std::map<char16_t, TDHilo*> hilos_;
  std::vector<DefUnidad> unidades_;
  TDHilo* origen_ = nullptr;
  bool terminado_ = false;
};

// Polls until the condition holds; false after the time-out.
bool Esperar(const std::function<bool()>& condicion, int milisegundos = 30000);

}  // namespace prueba

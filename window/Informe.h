#pragma once

// A run's report: one section per destination, from copies of the workers' counts.

#include <ctime>
#include <string>
#include <vector>

#include "engine/Cuentas.h"

struct TInformeUnidad {
  std::u16string Nombre;
  char16_t Letra = 0;
  TCuentas Cuentas;
  win32::DWORD Error = 0;  // the drive's own failure, which set it aside; 0: none
  bool Terminada = false;  // its work is on the device (and verified)
  bool Retirada = false;   // cancelled or unplugged during the run
};

struct TInforme {
  std::u16string Origen;  // "FOTOS (E:)"
  std::time_t Inicio = 0; // when the run took its origin (names the file)
  win32::TDateTime InicioFecha = 0;  // the same, as the report shows it
  std::vector<TInformeUnidad> Unidades;
};

// The report as the window shows it and the text file holds it.
std::u16string TextoInforme(const TInforme& informe);
// "Vertilo-YYYYMMDD-HHMMSS.txt", from the run's start in local time.
std::string NombreArchivoInforme(std::time_t inicio);
// The caption's and the notification's words: "3 unidades listas, 1 con fallos".
std::u16string TextoTerminado(int listas, int conFallos);
// A desktop notification through org.freedesktop.Notifications on the session bus; without
// a bus or a service nothing happens, and nothing waits for an answer.
void AvisarEscritorio(const std::u16string& resumen, const std::u16string& cuerpo);

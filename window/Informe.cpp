// The run's report (its window and its text file) and the notice that the run is done.

#include "window/Informe.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <fstream>

#include "engine/Progreso.h"
#include "platform/strings.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"

using namespace win32;

namespace {

std::u16string Fecha(TDateTime t) { return t == 0 ? u"-" : FormatShortDate(t) + u" " + FormatLongTime(t); }

std::u16string Cuenta(std::int64_t n, const char16_t* uno, const char16_t* varios) {
  return Utf16Decimal(n) + u" " + (n == 1 ? uno : varios);
}

bool TomoParte(const TInformeUnidad& u) {
  const TCuentas& c = u.Cuentas;
  return u.Error != 0 || c.Inicio != 0 || c.IgualesOmitidos + c.ListadosOmitidos > 0 || !c.Fallidos.empty();
}

}  // namespace

std::u16string TextoTerminado(int listas, int conFallos) {
  std::u16string texto = Cuenta(listas, u"unidad lista", u"unidades listas");
  if (conFallos > 0) texto += u", " + Utf16Decimal(conFallos) + u" con fallos";
  return texto;
}

std::string NombreArchivoInforme(std::time_t inicio) {
  std::tm local{};
  localtime_r(&inicio, &local);
  char nombre[64];
  std::strftime(nombre, sizeof nombre, "Vertilo-%Y%m%d-%H%M%S.txt", &local);
  return nombre;
}

std::u16string TextoInforme(const TInforme& informe) {
  std::u16string t = u"Vertilo: informe de la copia desde " + informe.Origen + u"\n";
  t += u"Empezada: " + Fecha(informe.InicioFecha) + u"\n";
  if (informe.Unidades.empty()) t += u"\nNinguna unidad ha recibido trabajo.\n";
  for (const TInformeUnidad& u : informe.Unidades) {
    const TCuentas& c = u.Cuentas;
    t += u"\n== " + u.Nombre + u" (" + u.Letra + u":) ==\n";
    std::u16string estado = u.Retirada ? u"retirada" : u.Error != 0 ? u"con error" : u.Terminada ? u"terminada" : u"en curso";
    if (u.Terminada && !c.Fallidos.empty()) estado += u", con fallos";
    t += u"Estado: " + estado + u"\n";
    if (u.Error != 0) t += u"Error de la unidad: " + TextoError(u.Error) + u"\n";
    t += u"Copiados: " + Cuenta(c.Copiados, u"archivo", u"archivos") + u", " + TallaStr(c.BytesCopiados) + u"\n";
    t += u"Omitidos por ser el mismo archivo: " + Utf16Decimal(c.IgualesOmitidos) + u"\n";
    t += u"Omitidos por el listado: " + Utf16Decimal(c.ListadosOmitidos) + u"\n";
    t += u"Verificados: " + Utf16Decimal(c.Verificados) + u", no coinciden: " + Utf16Decimal(c.MalVerificados) + u"\n";
    t += u"Fallidos: " + Utf16Decimal(static_cast<std::int64_t>(c.Fallidos.size())) + u"\n";
    for (const auto& [nombre, code] : c.Fallidos) t += u"  " + nombre + u": " + TextoError(code) + u"\n";
    t += u"Inicio: " + Fecha(c.Inicio) + u"\nFin: " + Fecha(c.Fin) + u"\n";
    const double segundos = (c.Fin - c.Inicio) * 86400.0;
    if (c.Inicio != 0 && c.Fin != 0 && segundos >= 0.001) {
      t += u"Velocidad media: " + TallaStr(static_cast<std::int64_t>(static_cast<double>(c.BytesCopiados) / segundos)) +
           u"/Seg.\n";
    }
  }
  return t;
}

TInformeUnidad TFormDList::UnidadDelInforme(TDHilo* worker, bool retirada) const {
  TInformeUnidad u;
  const THRec rec = worker->Identidad();
  u.Nombre = rec.Nombre;
  u.Letra = rec.Letra;
  u.Cuentas = worker->Cuentas();
  u.Error = worker->GetLEC();
  u.Terminada = u.Error == 0 && worker->GetDFin() > 0 && worker->GetDPos() == worker->GetDFin();
  u.Retirada = retirada;
  return u;
}

// A destination leaves the run: what it did stays in the report.
void TFormDList::AnotarRetirada(TDHilo* worker) {
  if (OCopia == nullptr || worker == OCopia) return;
  TInformeUnidad u = UnidadDelInforme(worker, true);
  if (TomoParte(u)) retiradas_.push_back(std::move(u));
}

TInforme TFormDList::Informe() const {
  TInforme informe;
  informe.Inicio = inicioRun_;
  informe.InicioFecha = fechaRun_;
  if (OCopia != nullptr) {
    const THRec rec = OCopia->Identidad();
    informe.Origen = rec.Nombre + u" (" + rec.Letra + u":)";
  }
  for (TDHilo* worker : DList) {
    if (worker == OCopia || OCopia == nullptr) continue;
    TInformeUnidad u = UnidadDelInforme(worker, false);
    if (TomoParte(u)) informe.Unidades.push_back(std::move(u));
  }
  informe.Unidades.insert(informe.Unidades.end(), retiradas_.begin(), retiradas_.end());
  return informe;
}

std::string TFormDList::RutaInforme() const {
  return inicioRun_ == 0 ? std::string() : CarpetaDeAjustes() + "/" + NombreArchivoInforme(inicioRun_);
}

// Written again whenever the run is done and at close: the file always holds the latest.
void TFormDList::GuardarInforme() {
  const std::string ruta = RutaInforme();
  if (ruta.empty()) return;
  std::ofstream file(ruta, std::ios::binary | std::ios::trunc);
  file << Utf8(TextoInforme(Informe()));
}

void TFormDList::ToolButtonInformeClick() {
  if (ventanaInforme_ == nullptr) {
    ventanaInforme_ = new QDialog(this);
    ventanaInforme_->setWindowTitle(QStringLiteral("Informe de la copia"));
    auto* layout = new QVBoxLayout(ventanaInforme_);
    textoInforme_ = new QPlainTextEdit(ventanaInforme_);
    textoInforme_->setReadOnly(true);
    textoInforme_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(textoInforme_);
    ventanaInforme_->resize(520, 480);
  }
  ventanaInforme_->show();
  ventanaInforme_->raise();
  RefrescarInforme();
}

void TFormDList::RefrescarInforme() {
  if (ventanaInforme_ == nullptr || !ventanaInforme_->isVisible()) return;
  const QString texto = OCopia == nullptr ? QStringLiteral("Todavía no hay ninguna copia en este arranque.")
                                          : Texto(TextoInforme(Informe()));
  if (texto != textoInforme_->toPlainText()) textoInforme_->setPlainText(texto);
}

// Each tick: once every destination of the run is done (on the device, verified) or set
// aside, and the origin has read everything, the caption says so, the desktop is told and
// the report is saved; new work starts the watch again.
void TFormDList::VigilarFin() {
  RefrescarInforme();
  if (OCopia == nullptr) return;
  int listas = 0, conFallos = 0;
  bool trabajo = false, terminado = OCopia->GetDPos() == OCopia->GetDFin();
  // What the run was given so far: work that came and went between two ticks is a new end.
  std::int64_t encargado = OCopia->GetDFin();
  for (TDHilo* worker : DList) {
    if (worker == OCopia || (worker->GetDFin() == 0 && worker->GetLEC() == 0)) continue;
    trabajo = true;
    encargado += worker->GetDFin();
    if (worker->GetLEC() != 0) {
      ++conFallos;
    } else if (worker->GetDPos() != worker->GetDFin()) {
      terminado = false;
    } else if (!worker->Fallidos().empty()) {
      ++conFallos;
    } else {
      ++listas;
    }
  }
  if (!trabajo || !terminado) {
    if (avisado_) setWindowTitle(Texto(TituloOrigen()));
    avisado_ = false;
    return;
  }
  if (avisado_ && encargado == encargoAvisado_) return;
  avisado_ = true;
  encargoAvisado_ = encargado;
  const std::u16string resultado = TextoTerminado(listas, conFallos);
  setWindowTitle(Texto(TituloOrigen() + u": terminado, " + resultado));
  AvisarEscritorio(u"Vertilo: copia terminada", resultado);
  GuardarInforme();
}

std::u16string TFormDList::TituloOrigen() const {
  return std::u16string(kNombreAplicacion) + u" leyendo desde [" + (OCopia ? OCopia->Identidad().Nombre : u"") + u"]";
}

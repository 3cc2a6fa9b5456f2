#pragma once

// The one window: the drive list with a row per worker, the toolbar, the memory gauge and
// the settings panel. Everything here runs on the window's thread.

#include <QListWidget>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/Ajustes.h"
#include "engine/DHilo.h"
#include "engine/Estado.h"
#include "engine/Listados.h"
#include "platform/locale.h"
#include "platform/types.h"
#include "window/Informe.h"

class QDialog;
class QPlainTextEdit;

class QTimer;

// A long window operation (a drop, a listing, a job) was cut short: the window is closing.
class EInterrumpido : public std::exception {
 public:
  const char* what() const noexcept override { return "interrumpido"; }
};

// One folder walk: the mount it stays on, and the folders it is inside of (by volume and file
// number), so that a bind mount or a loop back into its own tree is not walked twice. It
// lives for one walk only.
struct TRecorrido {
  std::uint64_t montaje = 0;
  bool conMontaje = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> dentro;
};
class QTabWidget;
class QGroupBox;
class TFormDList;

// Makes the status page's server; it gets the function that copies the window's state.
using FabricaServidor = std::function<std::unique_ptr<TServidor>(std::function<TEstadoPagina()>)>;

// The application name: caption, message captions, configuration and listing file names.
inline const char16_t* const kNombreAplicacion = u"Vertilo";

// A toolbar button whose picture index is the state of its command.
class TBotonHerramienta : public QToolButton {
 public:
  explicit TBotonHerramienta(QWidget* parent);
  int ImageIndex() const { return imagen_; }
  void SetImageIndex(int indice);
  void SetHint(const QString& hint) { setToolTip(hint); }
  QString Hint() const { return toolTip(); }

 private:
  int imagen_ = -1;
};

// The drive list: several rows selected, one focused, each drawn by its worker.
class TListaDispositivos : public QListWidget {
 public:
  explicit TListaDispositivos(TFormDList* form);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  TFormDList* form_;
};

class TDelegadoFila : public QStyledItemDelegate {
 public:
  explicit TDelegadoFila(TFormDList* form);
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  TFormDList* form_;
};

// The settings grid: five rows of key and value, validated on Enter and on leaving a row.
class TEditorVariables : public QTableWidget {
 public:
  explicit TEditorVariables(TFormDList* form);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TFormDList* form_;
};

// Edit masks for rows 1, 2 and 4; pick lists "Si"/"No" for rows 3 and 5.
class TDelegadoVariables : public QStyledItemDelegate {
 public:
  explicit TDelegadoVariables(TFormDList* form);
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 private:
  TFormDList* form_;
};

// A colour setting shown as a swatch; a click opens the colour chooser.
class TMuestraColor : public QWidget {
 public:
  TMuestraColor(TFormDList* form, std::atomic<std::uint32_t>* color, const QString& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  TFormDList* form_;
  std::atomic<std::uint32_t>* color_;
  QString caption_;
};

class TMedidorMemoria : public QWidget {
 public:
  explicit TMedidorMemoria(TFormDList* form);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TFormDList* form_;
};

class TFormDList : public QWidget {
 public:
  // fabrica: makes the status page's server. carpetaConfiguracion: where the configuration
  // file lives; empty means the folder of the program's own executable file.
  explicit TFormDList(const FabricaServidor& fabrica, std::string carpetaConfiguracion = {});
  ~TFormDList() override;

  // Creation, close and destruction.
  void FormCreate();
  void FormDestroy();

  // Drive discovery.
  void ToolButtonActualizarClick();
  TListaPorID ListaPorID() const;
  TDHilo* BuscarPorLetra(const std::vector<TDHilo*>& lista, char16_t Letra) const;
  void SeleccionarDispositivo(std::uint32_t ID, char16_t Letra = 0);
  void AsignarOrigen(TDHilo* origen);

  // The run's report and its end (Informe.cpp).
  TInforme Informe() const;
  std::string RutaInforme() const;  // empty before the run has an origin
  void GuardarInforme();
  void ToolButtonInformeClick();
  void VigilarFin();

  // Commands and display.
  void ToolButtonContinuarDetenerClick();
  void ToolButtonPriorizarClick();
  void ToolButtonCancelarClick();
  void ToolButtonSumarRestarClick();
  void ToolButtonAjusteProgresoClick();
  void TimerVTimer();
  // Refreshes the drives when the mount table changed and has settled, outside any drop,
  // listing or job.
  void VigilarMontajes();
  void PBMemoriaPaint(QPainter& canvas, int W, int H);
  int DListBoxMeasureItem() const;
  void DrawItem(QPainter& canvas, int Index, const QRect& Rect, bool seleccionada, bool enfocada);

  // Drops (file URLs from a file manager), in the engine's path form.
  void WMDropFiles(const std::vector<std::u16string>& caminos);
  void DListBoxDropFiles(const std::vector<std::u16string>& caminos);
  TListaRegistros CrearListaArrastre(const std::vector<std::u16string>& caminos);

  // Folder walk and listing files.
  void RecorrerCarpeta(TListaRegistros& lista, const std::u16string& carpeta, std::size_t prefijo);
  void AgregarArchivo(TListaRegistros& lista, const std::u16string& camino, const win32::WIN32_FIND_DATAW& data,
                      std::size_t prefijo);
  void GuardarListado(TDHilo* worker, const TListaRegistros& lista);
  TListaRegistros LeerListado(TDHilo* worker);
  std::u16string ArchivoListado(const TDHilo* worker) const;
  // The progress refresh rule: at most once per timer interval, update, repaint the gauge
  // and let the window handle its pending messages. Throws EInterrumpido when the operation
  // is to end (a close arrived meanwhile).
  void RefrescarProgreso(const std::function<void()>& actualizar);
  // Ends the long operation in progress at its next progress refresh.
  void Interrumpir();
  // The progress bar's length in pixels for `hecho` of `total`.
  int ValorProgreso(std::int64_t hecho, std::int64_t total) const;

  // Listings and saved jobs.
  void ToolButtonListarClick();
  void CrearListado(TDHilo* W);
  void ToolButtonAbrirGuardarClick();
  void AbrirLista();
  void GuardarLista();

  // Configuration.
  void PrepararEditor();
  void LeerConfiguracion();
  void GuardarConfiguracion();
  // False when the value of row 1, 2 or 4 is no whole number (the row shows the value in effect).
  bool ValidarVariable(int Row, const std::u16string& Text);
  void ValueListEditorVariablesKeyPress(int fila, const std::u16string& texto);
  void ValueListEditorVariablesValidate(int fila, const std::u16string& texto);
  std::u16string Fila(int r) const;
  std::u16string RutaConfiguracion() const;
  // The folder of the settings and the jobs' default folder (native path).
  std::string CarpetaDeAjustes() const;

  // The status page's view of the window: a copy made on the window's thread.
  TEstadoPagina EstadoWeb() const;
  void PublicarEstado();

  // Where the user is asked; tests answer in place of a person.
  std::function<std::optional<std::uint32_t>(std::uint32_t)> ElegirColor;
  std::function<std::optional<QString>(bool guardar)> ElegirArchivo;
  std::function<void(const QString& texto)> MostrarMensaje;

  // State read by tests and by other parts of the window.
  const std::vector<TDHilo*>& Dispositivos() const { return DList; }
  TDHilo* Origen() const { return OCopia; }
  TAjustes& Ajustes() { return *ajustes_; }

  // Controls, by the names the design gives them.
  TListaDispositivos* DListBox = nullptr;
  QWidget* PanelBarra = nullptr;
  QWidget* ToolBarHerramientas = nullptr;
  TBotonHerramienta* ToolButtonContinuarDetener = nullptr;
  TBotonHerramienta* ToolButtonAbrirGuardar = nullptr;
  TBotonHerramienta* ToolButtonPriorizar = nullptr;
  TBotonHerramienta* ToolButtonCancelar = nullptr;
  TBotonHerramienta* ToolButtonActualizar = nullptr;
  TBotonHerramienta* ToolButtonSumarRestar = nullptr;
  TBotonHerramienta* ToolButtonListar = nullptr;
  TBotonHerramienta* ToolButtonAjusteProgreso = nullptr;
  TBotonHerramienta* ToolButtonInforme = nullptr;
  TMedidorMemoria* PBMemoria = nullptr;
  QTabWidget* PageControlConfigurar = nullptr;
  QWidget* TabSheetConfigurar = nullptr;
  TEditorVariables* ValueListEditorVariables = nullptr;
  QGroupBox* GroupBoxColores = nullptr;
  TMuestraColor* PaintBoxColorOrigen = nullptr;
  TMuestraColor* PaintBoxColorDestino = nullptr;
  TMuestraColor* PaintBoxColorError = nullptr;
  QTimer* TimerV = nullptr;
  std::unique_ptr<TServidor> IdHTTPServer;

  std::u16string ProgresoTexto;
  int ProgresoValor = 0;
  win32::TDateTime LDT = 0;
  std::int32_t FileAppVersion = 0;
  std::int32_t AppVersion = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TDHilo* BuscarTrabajador(const TListaPorID& porID, std::uint32_t serial, char16_t letra,
                           const std::vector<TDHilo*>& tomados) const;
  void CrearControles();
  void CrearPanelAjustes();
  void AplicarValoresPorDefecto();
  void Colocar();
  // The width the texts need in the window's font: a row's top line for the widest drive
  // name, the toolbar with the gauge's text, the settings grid. Public for tests.
 public:
  int AnchoNecesario() const;

 private:
  // Shows or hides the window above all others.
  void EncimaDeTodas(bool encima);
  void HabilitarBarra(bool habilitada);
  // "Origen de copia no valido", and how many of the dropped items were left out.
  void MostrarOrigenNoValido(std::size_t omitidos = 0, std::size_t total = 0);
  void CerrarDialogos();
  void RestaurarTrasArrastre();
  void RamaAgregar(const TListaRegistros& soltados, std::deque<std::unique_ptr<TFRec>>& cola);
  void RamaEliminar(TListaRegistros& soltados, std::deque<std::unique_ptr<TFRec>>& cola);
  void SetFila(int r, const std::u16string& text);
  // A long operation ended: a close asked for meanwhile happens now.
  void TerminarOperacion();
  void DetenerServidor();
  std::optional<std::uint32_t> ElegirColorConDialogo(std::uint32_t actual);
  std::optional<QString> ElegirArchivoConDialogo(bool guardar);
  std::string IconoDeUnidad(win32::DWORD tipo);
  TInformeUnidad UnidadDelInforme(TDHilo* worker, bool retirada) const;
  void AnotarRetirada(TDHilo* worker);
  void RefrescarInforme();
  std::u16string TituloOrigen() const;

  std::unique_ptr<TAjustes> ajustes_;
  std::string carpetaConfiguracion_;
  std::vector<TDHilo*> DList;
  TDHilo* OCopia = nullptr;
  bool destruida_ = false;
  bool operacionEnCurso_ = false;
  bool cierrePendiente_ = false;
  // Mount-table generations: the one the drives were last refreshed at, and the one seen at
  // the last tick (a refresh waits for a tick without a new change). Window thread only.
  std::uint64_t montajesVistos_ = 0;
  std::uint64_t montajesPendientes_ = 0;
  QString archivoTrabajo_;  // The job file of the first save, reused by the next ones.
  // The run: when it took its origin, the destinations withdrawn from it, whether its end
  // was announced, and the report's window. Window thread only.
  std::time_t inicioRun_ = 0;
  win32::TDateTime fechaRun_ = 0;
  std::vector<TInformeUnidad> retiradas_;
  bool avisado_ = false;
  std::int64_t encargoAvisado_ = 0;  // the run's totals when its end was announced
  QDialog* ventanaInforme_ = nullptr;
  QPlainTextEdit* textoInforme_ = nullptr;
  friend class TRecorridoEnCurso;
  TRecorrido* recorrido_ = nullptr;  // The walk in progress, for as long as it runs.
  bool interrumpir_ = false;         // The long operation in progress is to end.
  std::map<win32::DWORD, std::string> iconos_;  // ICO bytes by drive type; window thread only.
  std::string iconoPrograma_;

  mutable std::mutex estadoLock_;  // Guards estado_: written by the window, read by the server's threads.
  TEstadoPagina estado_;
};

// Record orders and search, shared by drops, listings and remove mode.
int CompararTexto(const std::u16string& a, const std::u16string& b);
// The settings' folder for a program at `ejecutable`: its own folder, unless it is installed
// (in `instalada`) or cannot be written; then $XDG_CONFIG_HOME/Vertilo, or
// $HOME/.config/Vertilo without it.
std::string CarpetaDeAjustesPara(const std::string& ejecutable, const std::string& instalada, const char* xdg,
                                 const char* home);
int CompararNombre(const TFRec& a, const TFRec& b);
int CompararLongitud(const TFRec& a, const TFRec& b);
TFRec* BuscarFR(const std::vector<TFRec*>& lista, const std::u16string& nombre);
void OrdenarPorNombre(TListaRegistros& lista);
std::vector<TFRec*> Punteros(const TListaRegistros& lista);
std::u16string QuitarEspacios(const std::u16string& text);

// The one window of the running program.
extern TFormDList* FormDList;

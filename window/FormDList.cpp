// The window's frame: its controls and layout, creation, close and destruction.

#include "window/FormDList.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QPainter>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/Progreso.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "window/Imagenes.h"
#include "window/LienzoQt.h"

using namespace win32;

TFormDList* FormDList = nullptr;

TBotonHerramienta::TBotonHerramienta(QWidget* parent) : QToolButton(parent) {
  setFixedSize(39, 38);
  setIconSize(QSize(32, 32));
  setAutoRaise(true);
}

void TBotonHerramienta::SetImageIndex(int indice) {
  if (indice == imagen_) return;
  imagen_ = indice;
  setIcon(QIcon(ImagenHerramienta(indice)));
}

TListaDispositivos::TListaDispositivos(TFormDList* form) : QListWidget(form), form_(form) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setUniformItemSizes(false);
}

// Whatever the file manager proposes, Vertilo copies: the items stay where they are.
void TListaDispositivos::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void TListaDispositivos::dragMoveEvent(QDragMoveEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

// Local file URLs become "X:\..." paths by the drive they lie on; a path on no listed drive
// keeps its native form, which names no drive letter. The drop is accepted at once and
// handled after the event returns, so that the file manager leaves its drag and is not
// held by the walk or by a message box.
void TListaDispositivos::dropEvent(QDropEvent* event) {
  std::vector<std::u16string> caminos;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string path = Nativo(url.toLocalFile());
    auto drive = DrivePath(path);
    caminos.push_back(drive ? *drive : NameFromNative(path));
  }
  if (caminos.empty()) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
  QPointer<TFormDList> form(form_);
  QMetaObject::invokeMethod(
      form_, [form, caminos] {
        if (form) form->WMDropFiles(caminos);
      },
      Qt::QueuedConnection);
}

TMedidorMemoria::TMedidorMemoria(TFormDList* form) : QWidget(form), form_(form) {
  setFixedHeight(38);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TMedidorMemoria::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  form_->PBMemoriaPaint(painter, width(), height());
}

// The server's threads read the window's state through the function it gets; the server
// stops before the window goes.
TFormDList::TFormDList(const FabricaServidor& fabrica, std::string carpetaConfiguracion)
    : IdHTTPServer(fabrica([this] { return EstadoWeb(); })),
      ajustes_(std::make_unique<TAjustes>()),
      carpetaConfiguracion_(std::move(carpetaConfiguracion)) {
  ElegirColor = [this](std::uint32_t actual) { return ElegirColorConDialogo(actual); };
  ElegirArchivo = [this](bool guardar) { return ElegirArchivoConDialogo(guardar); };
  MostrarMensaje = [this](const QString& texto) {
    QMessageBox box(QMessageBox::NoIcon, Texto(kNombreAplicacion), texto, QMessageBox::Ok, this);
    box.exec();
  };
  CrearControles();
  FormCreate();
}

// The workers may still run their last turns when the window goes; the settings they read
// stay until they have ended.
TFormDList::~TFormDList() {
  FormDestroy();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ajustes_->Trabajadores.load() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ajustes_->Trabajadores.load() > 0) (void)ajustes_.release();
  if (FormDList == this) FormDList = nullptr;
}

void TFormDList::CrearControles() {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(16);
  setFont(font);
  resize(483, 399);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(0);

  PageControlConfigurar = new QTabWidget(this);
  PageControlConfigurar->setFixedHeight(206);
  TabSheetConfigurar = new QWidget(PageControlConfigurar);
  PageControlConfigurar->addTab(TabSheetConfigurar, QStringLiteral("Configurar"));
  PageControlConfigurar->setVisible(false);
  layout->addWidget(PageControlConfigurar);

  DListBox = new TListaDispositivos(this);
  DListBox->setItemDelegate(new TDelegadoFila(this));
  DListBox->setToolTip(QStringLiteral("Arrastre hasta aquí los archivos a copiar."));
  layout->addWidget(DListBox, 1);

  PanelBarra = new QWidget(this);
  PanelBarra->setFixedHeight(46);
  auto* barra = new QHBoxLayout(PanelBarra);
  barra->setContentsMargins(0, 4, 0, 4);
  barra->setSpacing(0);
  ToolBarHerramientas = new QWidget(PanelBarra);
  auto* herramientas = new QHBoxLayout(ToolBarHerramientas);
  herramientas->setContentsMargins(0, 0, 0, 0);
  herramientas->setSpacing(0);
  const auto boton = [&](int imagen, const char* hint, bool habilitado, void (TFormDList::*click)()) {
    auto* b = new TBotonHerramienta(ToolBarHerramientas);
    b->SetImageIndex(imagen);
    b->SetHint(QString::fromUtf8(hint));
    b->setEnabled(habilitado);
    connect(b, &QToolButton::clicked, this, [this, click] { (this->*click)(); });
    herramientas->addWidget(b);
    return b;
  };
  ToolButtonContinuarDetener = boton(0, "Detener operaciones.", false, &TFormDList::ToolButtonContinuarDetenerClick);
  ToolButtonAbrirGuardar = boton(2, "Abrir.", true, &TFormDList::ToolButtonAbrirGuardarClick);
  ToolButtonPriorizar = boton(4, "Priorizar el dispositivo seleccionado.", false, &TFormDList::ToolButtonPriorizarClick);
  ToolButtonCancelar = boton(5, "Cancelar operaciones en dispositivos seleccionados.", true,
                             &TFormDList::ToolButtonCancelarClick);
  ToolButtonActualizar = boton(6, "Actualizar estado de los dispositivos conectados.", true,
                               &TFormDList::ToolButtonActualizarClick);
  ToolButtonSumarRestar = boton(7, "Al arrastrar agregar.", true, &TFormDList::ToolButtonSumarRestarClick);
  ToolButtonListar = boton(9, "Crear listado.", true, &TFormDList::ToolButtonListarClick);
  ToolButtonInforme = boton(12, "Informe de la copia.", true, &TFormDList::ToolButtonInformeClick);
  ToolButtonAjusteProgreso = boton(10, "Ajustes.", true, &TFormDList::ToolButtonAjusteProgresoClick);
  barra->addWidget(ToolBarHerramientas);
  PBMemoria = new TMedidorMemoria(this);
  barra->addWidget(PBMemoria, 1);
  layout->addWidget(PanelBarra);

  TimerV = new QTimer(this);
  TimerV->setInterval(300);
  connect(TimerV, &QTimer::timeout, this, &TFormDList::TimerVTimer);
  CrearPanelAjustes();
}

void TFormDList::AplicarValoresPorDefecto() {
  TAjustes& a = *ajustes_;
  a.ColorOrigen = 0x0080A0FF;
  a.ColorDestino = 0x00D2D200;
  a.ColorError = 0x00D200D2;
  std::int64_t libre = a.MemoriaTotal.load() * 3 / 10;
  if ((libre >> 30) <= 0) libre = 1073741824;
  a.MemoriaLibre = libre;
  a.TiempoError = 15000;
  a.UsarCaminoOrigen = true;
  a.Verificar = true;
}

// Step by step as the window is made; no step reports a failure, and the drive list and the
// refresh happen whatever an earlier step did.
void TFormDList::FormCreate() {
  FormDList = this;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  FileAppVersion = 42649;
  AppVersion = FileAppVersion;
  LDT = Now();
  MEMORYSTATUSEX status;
  if (GlobalMemoryStatusEx(&status)) ajustes_->MemoriaTotal = static_cast<std::int64_t>(status.ullTotalPhys);
  try {
    PrepararEditor();
    LeerConfiguracion();  // Applies the defaults first.
  } catch (...) {
  }
  ProgresoTexto.clear();
  ProgresoValor = 0;
  DList.clear();
  ToolButtonActualizarClick();
  // As wide as its texts need (the user may resize it; rows and gauge follow), then placed.
  resize(std::max(width(), AnchoNecesario()), height());
  Colocar();
  if (DListBox->count() > 0) {
    DListBox->setCurrentRow(DListBox->count() - 1);
    DListBox->item(DListBox->count() - 1)->setSelected(true);
  }
  setWindowTitle(Texto(kNombreAplicacion));
  TimerV->start();
}

int TFormDList::AnchoNecesario() const {
  const QFontMetrics m(font());
  std::u16string nombre = u"Disco extraible";
  for (TDHilo* DH : DList) {
    const std::u16string n = DH->GetAppRec().Nombre;
    if (m.horizontalAdvance(Texto(n)) > m.horizontalAdvance(Texto(nombre))) nombre = n;
  }
  // The longest forms the row's and the gauge's texts take.
  const std::u16string fila = nombre + u" (W) Faltan " + TallaStr(999999999999) + u" 100% " + TallaStr(999999999) +
                              u"/Seg. Termina " + FormatLongTime(0.999988);
  const std::u16string medidor = u" Memoria ocupada 100%, Libre " + TallaStr(999999999999) + u" ";
  const QMargins margenes = layout() != nullptr ? layout()->contentsMargins() : QMargins();
  const int marco = margenes.left() + margenes.right();
  const int filas = m.horizontalAdvance(Texto(fila)) + 2 * DListBox->frameWidth() +
                    DListBox->verticalScrollBar()->sizeHint().width() + 4;
  const int barra = ToolBarHerramientas->sizeHint().width() + m.horizontalAdvance(Texto(medidor));
  const int ajustes = GroupBoxColores->sizeHint().width() + ValueListEditorVariables->columnWidth(0) +
                      ValueListEditorVariables->columnWidth(1) + 24;
  return std::max({filas, barra, ajustes}) + marco;
}

// At the right edge of the screen, three capital letters' width from it.
void TFormDList::Colocar() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const int left = screen->geometry().width() - frameGeometry().width() - fontMetrics().horizontalAdvance(QStringLiteral("HHH"));
  move(left, area.top());
}

void TFormDList::MostrarOrigenNoValido(std::size_t omitidos, std::size_t total) {
  QString texto = QStringLiteral("Origen de copia no valido");
  if (omitidos > 0) {
    texto += QStringLiteral("\n%1 de %2 elementos están en otra unidad y se omitieron.").arg(omitidos).arg(total);
  }
  EncimaDeTodas(false);
  MostrarMensaje(texto);
  EncimaDeTodas(true);
}

void TFormDList::EncimaDeTodas(bool encima) {
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, encima);
  if (visible) show();
}

// A close during a long operation ends the operation at its next progress refresh (within a
// timer interval) and happens when it has let go of the workers. A dialog or message box
// that is open is closed as if the user had cancelled it.
void TFormDList::closeEvent(QCloseEvent* event) {
  CerrarDialogos();
  if (operacionEnCurso_) {
    cierrePendiente_ = true;
    Interrumpir();
    event->ignore();
    return;
  }
  FormDestroy();
  event->accept();
}

void TFormDList::CerrarDialogos() {
  for (int bound = 0; bound < 8; ++bound) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    dialog->done(QDialog::Rejected);
  }
}

void TFormDList::TerminarOperacion() {
  operacionEnCurso_ = false;
  interrumpir_ = false;
  if (cierrePendiente_) {
    cierrePendiente_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

void TFormDList::DetenerServidor() {
  try {
    if (IdHTTPServer) IdHTTPServer->Detener();
  } catch (...) {
  }
}

// The window does not wait for the workers: each ends and frees itself on its own thread.
void TFormDList::FormDestroy() {
  if (destruida_) return;
  destruida_ = true;
  try {
    GuardarConfiguracion();
  } catch (...) {
  }
  try {
    GuardarInforme();
  } catch (...) {
  }
  try {
    TimerV->stop();
    DListBox->hide();
    DListBox->clear();
    if (OCopia != nullptr) {
      for (auto it = DList.rbegin(); it != DList.rend(); ++it) {
        if (*it != OCopia) OCopia->EliminarDestinosList.Add(*it);
      }
      DList.clear();
      OCopia->Terminate();
    } else {
      for (auto it = DList.rbegin(); it != DList.rend(); ++it) (*it)->Terminate();
      DList.clear();
    }
  } catch (...) {
  }
  DetenerServidor();
}

// The settings: their editor, their validation, the colour swatches and the configuration
// file next to the program (in the user's configuration folder when it is installed).

#include <fcntl.h>
#include <unistd.h>

#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <charconv>
#include <cstdlib>

#include "engine/Flujos.h"
#include "engine/Progreso.h"
#include "engine/Listados.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"

using namespace win32;

namespace {

constexpr int kFilas = 6;
// One required digit, then optional ones: 1 to 3 digits, 1 to 2, 1 to 5. In Qt's masks "9"
// is the required digit and "0" the optional one.
const char* const kMascaras[kFilas] = {"900", "90", nullptr, "90000", nullptr, nullptr};

// Whole number, optionally signed; nothing else in the text.
std::optional<std::int64_t> Entero(const std::u16string& text) {
  std::string digits;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    digits += static_cast<char>(c);
  }
  const char* first = digits.data();
  const char* last = digits.data() + digits.size();
  if (first != last && *first == '+') ++first;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

}  // namespace

TEditorVariables::TEditorVariables(TFormDList* form) : QTableWidget(kFilas, 2, form), form_(form) {
  setHorizontalHeaderLabels({QStringLiteral("Variables"), QStringLiteral("Valores")});
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(20);
  setColumnWidth(0, 263);
  setColumnWidth(1, 116);
  horizontalHeader()->setStretchLastSection(true);  // The values follow the window's width.
  setFrameShape(QFrame::NoFrame);
  setToolTip(QStringLiteral("Presione enter para validar sus datos."));
  setItemDelegate(new TDelegadoVariables(form));
  const char* claves[kFilas] = {"Memoria libre (Gigabytes)", "Esperar respuesta (Segundos)",
                                "Usar camino del origen (Si/No)", "Puerto web (1..65535)",
                                "Activar Servidor Web (Si/No)", "Verificar copias (Si/No)"};
  for (int r = 0; r < kFilas; ++r) {
    auto* key = new QTableWidgetItem(QString::fromUtf8(claves[r]));
    key->setFlags(Qt::ItemIsEnabled);
    setItem(r, 0, key);
    setItem(r, 1, new QTableWidgetItem(QString()));
  }
}

void TEditorVariables::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    const int row = currentRow();
    if (row >= 0) form_->ValueListEditorVariablesKeyPress(row + 1, Texto16(item(row, 1)->text()));
  }
  QTableWidget::keyPressEvent(event);
}

TDelegadoVariables::TDelegadoVariables(TFormDList* form) : QStyledItemDelegate(form), form_(form) {}

QWidget* TDelegadoVariables::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
  const int row = index.row();
  if (row == 2 || row == 4 || row == 5) {  // The Si/No rows.
    auto* list = new QComboBox(parent);
    list->addItems({QStringLiteral("Si"), QStringLiteral("No")});
    list->setEditable(false);
    return list;
  }
  auto* edit = new QLineEdit(parent);
  if (row >= 0 && row < kFilas && kMascaras[row] != nullptr) edit->setInputMask(QString::fromLatin1(kMascaras[row]) + QStringLiteral("; "));
  return edit;
}

void TDelegadoVariables::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data().toString();
  if (auto* list = qobject_cast<QComboBox*>(editor)) {
    list->setCurrentIndex(text == QStringLiteral("No") ? 1 : 0);
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
  }
}

// An edited value is validated when it is committed, by Enter or by leaving its row.
void TDelegadoVariables::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  QString text;
  if (auto* list = qobject_cast<QComboBox*>(editor)) {
    text = list->currentText();
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    text = edit->displayText();
  }
  model->setData(index, text);
  form_->ValueListEditorVariablesValidate(index.row() + 1, Texto16(text));
}

TMuestraColor::TMuestraColor(TFormDList* form, std::atomic<std::uint32_t>* color, const QString& caption)
    : QWidget(form), form_(form), color_(color), caption_(caption) {
  setFixedSize(62, 41);
  setToolTip(QStringLiteral("Hacer clic para cambiar el color."));
}

void TMuestraColor::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(0, 0, width(), height(), ColorDe(color_->load()));
  painter.setFont(form_->font());
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetrics metrics(form_->font());
  const int x = (width() - metrics.horizontalAdvance(caption_)) / 2;
  const int y = (height() - metrics.height()) / 2;
  painter.drawText(x, y + metrics.ascent(), caption_);
}

void TMuestraColor::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (auto chosen = form_->ElegirColor(color_->load())) {
    color_->store(*chosen);
    update();
    form_->DListBox->viewport()->update();
  }
}

void TFormDList::CrearPanelAjustes() {
  auto* layout = new QHBoxLayout(TabSheetConfigurar);
  layout->setContentsMargins(2, 2, 2, 2);
  GroupBoxColores = new QGroupBox(QStringLiteral("Colores"), TabSheetConfigurar);
  auto* colores = new QVBoxLayout(GroupBoxColores);
  colores->setContentsMargins(4, 4, 4, 4);
  colores->setSpacing(4);
  PaintBoxColorOrigen = new TMuestraColor(this, &ajustes_->ColorOrigen, QStringLiteral("Origen"));
  PaintBoxColorDestino = new TMuestraColor(this, &ajustes_->ColorDestino, QStringLiteral("Destino"));
  PaintBoxColorError = new TMuestraColor(this, &ajustes_->ColorError, QStringLiteral("Error"));
  for (QWidget* swatch : {static_cast<QWidget*>(PaintBoxColorOrigen), static_cast<QWidget*>(PaintBoxColorDestino),
                          static_cast<QWidget*>(PaintBoxColorError)}) {
    swatch->setParent(GroupBoxColores);
    colores->addWidget(swatch);
  }
  layout->addWidget(GroupBoxColores);
  ValueListEditorVariables = new TEditorVariables(this);
  ValueListEditorVariables->setParent(TabSheetConfigurar);
  layout->addWidget(ValueListEditorVariables, 1);
}

// The masks and pick lists come with the editor's delegate; the rows start empty.
void TFormDList::PrepararEditor() {
  for (int r = 1; r <= kFilas; ++r) SetFila(r, u"");
}

std::u16string TFormDList::Fila(int r) const {
  QTableWidgetItem* item = ValueListEditorVariables->item(r - 1, 1);
  return item != nullptr ? Texto16(item->text()) : std::u16string();
}

void TFormDList::SetFila(int r, const std::u16string& text) {
  if (QTableWidgetItem* item = ValueListEditorVariables->item(r - 1, 1)) item->setText(Texto(text));
}

std::u16string QuitarEspacios(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c != u' ') out += c;
  }
  return out;
}

std::string CarpetaDeAjustesPara(const std::string& ejecutable, const std::string& instalada, const char* xdg,
                                 const char* home) {
  const std::string propia = ejecutable.substr(0, ejecutable.find_last_of('/'));
  if (propia != instalada && ::faccessat(AT_FDCWD, propia.c_str(), W_OK, AT_EACCESS) == 0) return propia;
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (home != nullptr && home[0] != 0) {
    base = std::string(home) + "/.config";
  } else {
    return propia;
  }
  return base + "/" + Utf8(kNombreAplicacion);
}

std::string TFormDList::CarpetaDeAjustes() const {
  if (!carpetaConfiguracion_.empty()) return carpetaConfiguracion_;
#ifdef VERTILO_CARPETA_INSTALADA
  const std::string instalada = VERTILO_CARPETA_INSTALADA;
#else
  const std::string instalada;
#endif
  const std::string folder = CarpetaDeAjustesPara(ExecutablePath(), instalada, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  ForceDirectories(NameFromNative(folder));
  return folder;
}

std::u16string TFormDList::RutaConfiguracion() const {
  return NameFromNative(CarpetaDeAjustes() + "/") + kNombreAplicacion + u".cfg";
}

bool TFormDList::ValidarVariable(int Row, const std::u16string& entrada) {
  const std::u16string text = QuitarEspacios(entrada);
  if (text.empty()) return true;
  TAjustes& a = *ajustes_;
  const std::optional<std::int64_t> n = Entero(text);
  switch (Row) {
    case 1:
      if (n) {
        std::int64_t v = *n;
        const std::int64_t t = a.MemoriaTotal.load() >> 30;
        if (v >= t) v = t - 1;
        if (v <= 0) v = 1;
        a.MemoriaLibre = v << 30;
      }
      SetFila(1, Utf16Decimal(a.MemoriaLibre.load() >> 30));
      return n.has_value();
    case 2:
      if (n) {
        std::int64_t v = *n;
        if (v <= 0) {
          v = 1;
        } else if (v > 3600) {
          v = 3600;
        }
        a.TiempoError = static_cast<std::uint32_t>(v * 1000);
      }
      SetFila(2, Utf16Decimal(a.TiempoError.load() / 1000));
      return n.has_value();
    case 3:
      a.UsarCaminoOrigen = text == u"Si";
      SetFila(3, text);
      return true;
    case 4:
      if (n && *n >= 1 && *n <= 65535 && *n != IdHTTPServer->Puerto()) {
        try {
          if (IdHTTPServer->Activo()) {
            IdHTTPServer->Detener();
            IdHTTPServer->SetPuerto(static_cast<std::uint16_t>(*n));
            IdHTTPServer->Iniciar();
          } else {
            IdHTTPServer->SetPuerto(static_cast<std::uint16_t>(*n));
          }
        } catch (...) {
        }
      }
      SetFila(4, Utf16Decimal(IdHTTPServer->Puerto()));
      SetFila(5, IdHTTPServer->Activo() ? u"Si" : u"No");
      return n.has_value();
    case 5:
      try {
        if (text == u"Si") {
          if (!IdHTTPServer->Activo()) IdHTTPServer->Iniciar();
        } else {
          IdHTTPServer->Detener();
        }
      } catch (...) {
      }
      SetFila(5, text);
      return true;
    case 6:
      a.Verificar = text == u"Si";
      SetFila(6, text);
      return true;
    default:
      return true;
  }
}

void TFormDList::ValueListEditorVariablesKeyPress(int fila, const std::u16string& texto) { ValidarVariable(fila, texto); }

void TFormDList::ValueListEditorVariablesValidate(int fila, const std::u16string& texto) { ValidarVariable(fila, texto); }

// A damaged or foreign file never stops the window: each value read is validated on its
// own (one that is no number leaves its setting as it was), and reading stops at the first
// text the file does not hold whole; the rows then show the settings in effect.
void TFormDList::LeerConfiguracion() {
  AplicarValoresPorDefecto();
  IdHTTPServer->SetPuerto(80);
  IdHTTPServer->Detener();
  try {
    TFileStream file(RutaConfiguracion(), TFileStream::Modo::Leer);
    if (file.LeerEntero() == FileAppVersion) {
      const std::uint32_t origen = file.LeerNatural();
      const std::uint32_t destino = file.LeerNatural();
      const std::uint32_t error = file.LeerNatural();
      ajustes_->ColorOrigen = origen;
      ajustes_->ColorDestino = destino;
      ajustes_->ColorError = error;
      for (int r = 1; r <= 5; ++r) ValidarVariable(r, LeerCadena(file));
      // Stored after the first five, so that a file written before it reads as before and
      // ends here: the sixth keeps its default.
      if (file.Restante() > 0) ValidarVariable(6, LeerCadena(file));
    }
  } catch (const EFlujo&) {
  }
  SetFila(1, Utf16Decimal(ajustes_->MemoriaLibre.load() >> 30));
  SetFila(2, Utf16Decimal(ajustes_->TiempoError.load() / 1000));
  SetFila(3, ajustes_->UsarCaminoOrigen.load() ? u"Si" : u"No");
  SetFila(4, Utf16Decimal(IdHTTPServer->Puerto()));
  SetFila(5, IdHTTPServer->Activo() ? u"Si" : u"No");
  SetFila(6, ajustes_->Verificar.load() ? u"Si" : u"No");
}

void TFormDList::GuardarConfiguracion() {
  try {
    TFileStream file(RutaConfiguracion(), TFileStream::Modo::Crear);
    file.EscribirEntero(FileAppVersion);
    file.EscribirNatural(ajustes_->ColorOrigen.load());
    file.EscribirNatural(ajustes_->ColorDestino.load());
    file.EscribirNatural(ajustes_->ColorError.load());
    for (int r = 1; r <= kFilas; ++r) EscribirCadena(file, Fila(r));
    file.Cerrar();
  } catch (const EFlujo&) {
  }
}

std::optional<std::uint32_t> TFormDList::ElegirColorConDialogo(std::uint32_t actual) {
  const QColor chosen = QColorDialog::getColor(ColorDe(actual), this);
  if (!chosen.isValid()) return std::nullopt;
  return ValorDe(chosen);
}

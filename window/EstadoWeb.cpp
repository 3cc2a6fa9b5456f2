// The status page's view of the window, and the icons it shows.

#include <QBuffer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QImageWriter>
#include <QPainter>

#include "platform/drives.h"
#include "platform/process.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"

using namespace win32;

namespace {

std::string Ico(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "ico");
  if (!writer.write(image)) return {};
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Our own small drawing, for a drive without an icon in the desktop's theme.
QImage Dibujo(DWORD tipo) {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(60, 60, 70));
  if (tipo == DRIVE_REMOTE) {
    p.setBrush(QColor(120, 170, 230));
    p.drawEllipse(2, 2, 12, 12);
    p.drawLine(2, 8, 14, 8);
    p.drawLine(8, 2, 8, 14);
  } else if (tipo == DRIVE_REMOVABLE) {
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(5, 1, 6, 4);
    p.setBrush(QColor(90, 130, 200));
    p.drawRoundedRect(3, 5, 10, 10, 2, 2);
  } else if (tipo == DRIVE_FIXED) {
    p.setBrush(QColor(180, 180, 190));
    p.drawRoundedRect(1, 4, 14, 8, 2, 2);
    p.setBrush(QColor(60, 200, 90));
    p.drawEllipse(11, 7, 2, 2);
  } else {
    p.setBrush(QColor(230, 230, 235));
    p.drawRect(2, 2, 12, 12);
    p.drawLine(4, 5, 12, 5);
  }
  return image;
}

const char* NombreDeIcono(DWORD tipo) {
  switch (tipo) {
    case DRIVE_REMOVABLE: return "drive-removable-media";
    case DRIVE_FIXED: return "drive-harddisk";
    case DRIVE_REMOTE: return "network-server";
    default: return nullptr;
  }
}

}  // namespace

std::string TFormDList::IconoDeUnidad(DWORD tipo) {
  auto known = iconos_.find(tipo);
  if (known != iconos_.end()) return known->second;
  QImage image;
  if (const char* name = NombreDeIcono(tipo)) {
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    if (!icon.isNull()) image = icon.pixmap(16, 16).toImage();
  }
  if (image.isNull()) image = Dibujo(tipo);
  std::string bytes = Ico(image);
  if (bytes.empty()) bytes = Ico(Dibujo(DRIVE_UNKNOWN));
  iconos_[tipo] = bytes;
  return bytes;
}

// Icons are made here, on the window's thread, where Qt may paint; the server's threads
// only copy bytes.
void TFormDList::PublicarEstado() {
  if (iconoPrograma_.empty()) {
    const QIcon icon = QFileIconProvider().icon(QFileInfo(QString::fromStdString(ExecutablePath())));
    const QImage image = icon.isNull() ? QImage() : icon.pixmap(16, 16).toImage();
    iconoPrograma_ = Ico(image.isNull() ? Dibujo(DRIVE_UNKNOWN) : image);
  }
  TEstadoPagina estado;
  estado.NombreAplicacion = kNombreAplicacion;
  estado.AppVersion = AppVersion;
  estado.IconoPrograma = iconoPrograma_;
  for (TDHilo* worker : DList) {
    const std::u16string root{worker->Identidad().Letra, u':', u'\\'};
    estado.Dispositivos.push_back({IconoDeUnidad(GetDriveTypeW(root)), root, worker->GetWebStr()});
  }
  std::lock_guard guard(estadoLock_);
  estado_ = std::move(estado);
}

TEstadoPagina TFormDList::EstadoWeb() const {
  std::lock_guard guard(estadoLock_);
  return estado_;
}

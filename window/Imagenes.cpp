#include "window/Imagenes.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kTinta(40, 40, 48);
const QColor kVerde(40, 150, 70);
const QColor kRojo(200, 40, 40);
const QColor kAzul(40, 90, 190);
const QColor kAmbar(220, 150, 20);

void Pausa(QPainter& p) {
  p.setBrush(kAzul);
  p.drawRoundedRect(8, 6, 6, 20, 1.5, 1.5);
  p.drawRoundedRect(18, 6, 6, 20, 1.5, 1.5);
}

void Continuar(QPainter& p) {
  QPainterPath path;
  path.moveTo(9, 5);
  path.lineTo(26, 16);
  path.lineTo(9, 27);
  path.closeSubpath();
  p.setBrush(kVerde);
  p.drawPath(path);
}

void Carpeta(QPainter& p) {
  QPainterPath path;
  path.moveTo(3, 9);
  path.lineTo(12, 9);
  path.lineTo(15, 12);
  path.lineTo(29, 12);
  path.lineTo(29, 26);
  path.lineTo(3, 26);
  path.closeSubpath();
  p.setBrush(kAmbar);
  p.drawPath(path);
}

void Disco(QPainter& p) {
  p.setBrush(kAzul);
  p.drawRoundedRect(5, 5, 22, 22, 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(10, 5, 12, 8);
  p.drawRect(9, 17, 14, 10);
}

void Priorizar(QPainter& p) {
  QPainterPath path;
  path.moveTo(16, 4);
  path.lineTo(27, 16);
  path.lineTo(20, 16);
  path.lineTo(20, 28);
  path.lineTo(12, 28);
  path.lineTo(12, 16);
  path.lineTo(5, 16);
  path.closeSubpath();
  p.setBrush(kVerde);
  p.drawPath(path);
}

void Cancelar(QPainter& p) {
  p.setPen(QPen(kRojo, 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(8, 8, 24, 24);
  p.drawLine(24, 8, 8, 24);
}

void Actualizar(QPainter& p) {
  p.setPen(QPen(kAzul, 4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 280 * 16);
  QPainterPath head;
  head.moveTo(20, 2);
  head.lineTo(27, 9);
  head.lineTo(18, 11);
  head.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kAzul);
  p.drawPath(head);
}

void Signo(QPainter& p, bool mas) {
  p.setBrush(mas ? kVerde : kRojo);
  p.drawEllipse(4, 4, 24, 24);
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(10, 16, 22, 16);
  if (mas) p.drawLine(16, 10, 16, 22);
}

void Listar(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(6, 3, 20, 26);
  p.setPen(QPen(kTinta, 2));
  for (int y = 9; y <= 23; y += 5) p.drawLine(10, y, 22, y);
}

void Ajustes(QPainter& p) {
  p.setBrush(kTinta);
  p.save();
  p.translate(16, 16);
  for (int i = 0; i < 8; ++i) {
    p.drawRect(QRectF(-3, -14, 6, 7));
    p.rotate(45);
  }
  p.drawEllipse(QPointF(0, 0), 9, 9);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0, 0), 4, 4);
  p.restore();
}

void Progreso(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(3, 7, 26, 7);
  p.drawRect(3, 18, 26, 7);
  p.setBrush(kVerde);
  p.drawRect(3, 7, 18, 7);
  p.drawRect(3, 18, 10, 7);
}

// A page with a check mark: the run's report.
void Informe(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(6, 3, 20, 26);
  p.setPen(QPen(kTinta, 1.5));
  for (int y = 8; y <= 14; y += 3) p.drawLine(10, y, 22, y);
  p.setPen(QPen(kVerde, 3));
  p.drawLine(10, 20, 14, 25);
  p.drawLine(14, 25, 23, 15);
}

}  // namespace

QPixmap ImagenHerramienta(int indice) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kTinta, 1.2));
  switch (indice) {
    case 0: Pausa(p); break;
    case 1: Continuar(p); break;
    case 2: Carpeta(p); break;
    case 3: Disco(p); break;
    case 4: Priorizar(p); break;
    case 5: Cancelar(p); break;
    case 6: Actualizar(p); break;
    case 7: Signo(p, true); break;
    case 8: Signo(p, false); break;
    case 9: Listar(p); break;
    case 10: Ajustes(p); break;
    case 11: Progreso(p); break;
    case 12: Informe(p); break;
    default: break;
  }
  return pixmap;
}

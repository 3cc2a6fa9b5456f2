// The rows of the drive list: two text lines high, drawn by their worker.

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "window/FormDList.h"
#include "window/LienzoQt.h"

// The list does not own its delegate: the window does.
TDelegadoFila::TDelegadoFila(TFormDList* form) : QStyledItemDelegate(form), form_(form) {}

QSize TDelegadoFila::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(option.rect.width(), form_->DListBoxMeasureItem());
}

void TDelegadoFila::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  const bool focused = (option.state & QStyle::State_HasFocus) != 0 ||
                       form_->DListBox->currentRow() == index.row();
  form_->DrawItem(*painter, index.row(), option.rect, selected, focused);
}

int TFormDList::DListBoxMeasureItem() const {
  // The height of "Wg" is the font's line height.
  return 2 * QFontMetrics(DListBox->font()).height();
}

void TFormDList::DrawItem(QPainter& canvas, int Index, const QRect& Rect, bool seleccionada, bool enfocada) {
  canvas.save();
  try {
    const QPalette& colors = DListBox->palette();
    canvas.setFont(DListBox->font());
    canvas.setBrush(seleccionada ? colors.color(QPalette::Highlight) : colors.color(QPalette::Base));
    canvas.setPen(Qt::black);
    if (Index >= 0 && Index < static_cast<int>(DList.size())) {
      TLienzoQt lienzo(canvas, seleccionada ? QColor(247, 255, 255) : colors.color(QPalette::WindowText));
      DList[static_cast<std::size_t>(Index)]->Pintar(
          lienzo, {Rect.left(), Rect.top(), Rect.left() + Rect.width(), Rect.top() + Rect.height()});
    }
  } catch (...) {
  }
  canvas.restore();
  if (enfocada) {
    QStyleOptionFocusRect focus;
    focus.rect = Rect;
    focus.palette = DListBox->palette();
    DListBox->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &canvas, DListBox);
  }
}

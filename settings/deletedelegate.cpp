#include "settings/deletedelegate.h"

#include <QEvent>
#include <QPainter>
#include <QSqlTableModel>

namespace {

const int deleteColumn = 0;
const int markHeight = 13;

} // namespace

DeleteDelegate::DeleteDelegate(QObject *parent)
    : QSqlRelationalDelegate(parent)
    , m_closePixmap(QStringLiteral(":/Images/Resources/close.svg"))
{
}

void DeleteDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() == deleteColumn) {
        paintDeleteMark(painter, option);
    } else {
        QStyleOptionViewItem cell = option;
        cell.rect.adjust(0, 0, -1, -1);
        QSqlRelationalDelegate::paint(painter, cell, index);
    }
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
}

void DeleteDelegate::paintDeleteMark(QPainter *painter, const QStyleOptionViewItem &option) const
{
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, option.palette.highlight());
    if (!m_closePixmap.isNull()) {
        const QPixmap mark = m_closePixmap.scaledToHeight(markHeight, Qt::SmoothTransformation);
        QRect target(QPoint(), mark.size());
        target.moveCenter(option.rect.center());
        painter->drawPixmap(target, mark);
    }
    drawFocus(painter, option, option.rect);
}

QSize DeleteDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() == deleteColumn)
        return {40, 40};
    return QSqlRelationalDelegate::sizeHint(option, index) + QSize(1, 1);
}

QWidget *DeleteDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() == deleteColumn)
        return nullptr;
    return QSqlRelationalDelegate::createEditor(parent, option, index);
}

bool DeleteDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (index.column() != deleteColumn)
        return QSqlRelationalDelegate::editorEvent(event, model, option, index);
    if (event->type() == QEvent::MouseButtonPress) {
        auto *table = qobject_cast<QSqlTableModel *>(model);
        // The model deletes no saved row while a row the database refused is pending; dropping that
        // one first makes one click enough. New rows are added at the end, so this row keeps its index.
        if (table && table->isDirty() && !table->isDirty(index))
            table->revertAll();
        model->removeRow(index.row());
        if (table)
            table->select();
    }
    return true;
}

#pragma once

#include <QPixmap>
#include <QSqlRelationalDelegate>

// Draws a delete mark in the first column of the cutter table (the material id, never edited by hand);
// pressing it removes that cutter from the database at once.
class DeleteDelegate : public QSqlRelationalDelegate
{
    Q_OBJECT
public:
    explicit DeleteDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

private:
    void paintDeleteMark(QPainter *painter, const QStyleOptionViewItem &option) const;

    QPixmap m_closePixmap;
};

#include "settings/settings.h"

#include "settings/deletedelegate.h"
#include "ui_settings.h"

#include <QDataWidgetMapper>
#include <QHeaderView>
#include <QInputDialog>
#include <QScroller>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlRelationalTableModel>
#include <QToolButton>

namespace {

const QString chosenPageStyle = QStringLiteral("color: rgb(117, 117, 117); border-color: #0277bd; background-color: #efefef;");
const QString otherPageStyle = QStringLiteral("color: rgb(36, 36, 36); border-color: rgb(117, 117, 117); background-color: #fff;");
const QString defaultPicture = QStringLiteral(":/Images/Resources/image.svg");
const int stripHeight = 55;
const int stripIconHeight = 30;
const int pictureSize = 80;

struct CutterRow {
    double diameter = 0;
    double speed = 0;
    double feedrate = 0;
    double depth = 0;
};

// The first row of a cutter query, or nothing when there is none or a value is not a number.
bool readCutter(const QString &sql, CutterRow &row)
{
    QSqlQuery query(sql);
    if (!query.next())
        return false;
    bool ok[4] = {};
    row.diameter = query.value(QStringLiteral("diameter")).toDouble(&ok[0]);
    row.speed = query.value(QStringLiteral("speed")).toDouble(&ok[1]);
    row.feedrate = query.value(QStringLiteral("feedrate")).toDouble(&ok[2]);
    row.depth = query.value(QStringLiteral("depth")).toDouble(&ok[3]);
    return ok[0] && ok[1] && ok[2] && ok[3];
}

QPixmap pictureOrDefault(const QString &path)
{
    QPixmap picture(path);
    return picture.isNull() ? QPixmap(defaultPicture) : picture;
}

} // namespace

Settings::Settings(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Settings>())
{
    ui->setupUi(this);
    setupCutterTable();
    m_materialModel = new QSqlRelationalTableModel(this);
    m_materialModel->setTable(QStringLiteral("material"));
    m_materialModel->setEditStrategy(QSqlTableModel::OnFieldChange);
    m_materialModel->select();
    m_descriptionMapper = new QDataWidgetMapper(this);
    m_descriptionMapper->setModel(m_materialModel);
    m_descriptionMapper->setSubmitPolicy(QDataWidgetMapper::AutoSubmit);
    // Plain text: the description is shown to other parts of the program as it was typed.
    m_descriptionMapper->addMapping(ui->MaterialDisplay, 2, "plainText");
    setupMaterialStrip();
    m_descriptionMapper->setCurrentIndex(rowOfMaterial(m_currentMaterial));
}

Settings::~Settings() = default;

Pcb_Settings *Settings::pcbSettings() const
{
    return ui->pcbSettings;
}

Machine_Settings *Settings::machineSettings() const
{
    return ui->machineSettings;
}

void Settings::setupCutterTable()
{
    m_cutterModel = new QSqlRelationalTableModel(ui->tableView);
    m_cutterModel->setTable(QStringLiteral("cutter"));
    m_cutterModel->setEditStrategy(QSqlTableModel::OnFieldChange);
    m_cutterModel->setFilter(QStringLiteral("mid = 1 "));
    const QList<QPair<const char *, QString>> titles = {
        {"mid", QStringLiteral("Delete")},
        {"diameter", QStringLiteral("Diameter mm")},
        {"speed", QStringLiteral("Cutting Speed U/min")},
        {"feedrate", QStringLiteral("Feedrate mm/min")},
        {"depth", QStringLiteral("Depth per pass mm")},
    };
    for (const auto &title : titles)
        m_cutterModel->setHeaderData(m_cutterModel->fieldIndex(QLatin1String(title.first)), Qt::Horizontal, title.second);
    if (!m_cutterModel->select())
        return;

    QTableView *table = ui->tableView;
    const QString headerStyle = QStringLiteral("QHeaderView { font-family: Roboto; font-size: 8pt; }"
                                               "QHeaderView::section { background-color:white }");
    table->horizontalHeader()->setStyleSheet(headerStyle);
    table->verticalHeader()->setStyleSheet(headerStyle);
    table->setModel(m_cutterModel);
    table->setItemDelegate(new DeleteDelegate(table));
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->resizeColumnsToContents();
    table->resizeRowsToContents();
    table->setSortingEnabled(true);
    table->horizontalHeader()->setSortIndicatorShown(true);
    table->sortByColumn(1, Qt::AscendingOrder);
    for (int column = 1; column < m_cutterModel->columnCount(); ++column)
        table->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);
    connect(m_cutterModel, &QAbstractItemModel::dataChanged, m_cutterModel, &QSqlTableModel::submit);
}

void Settings::setupMaterialStrip()
{
    QTableWidget *strip = ui->tableWidget_Material;
    strip->setRowCount(1);
    strip->setColumnCount(1);
    strip->setRowHeight(0, stripHeight);
    strip->horizontalHeader()->hide();
    strip->verticalHeader()->hide();
    QScroller::grabGesture(strip->viewport(), QScroller::LeftMouseButtonGesture);
    QScrollerProperties properties = QScroller::scroller(strip->viewport())->scrollerProperties();
    const QVariant overshootOff = QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff);
    properties.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy, overshootOff);
    properties.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy, overshootOff);
    QScroller::scroller(strip->viewport())->setScrollerProperties(properties);

    auto *addButton = new QToolButton(strip);
    addButton->setText(QStringLiteral("ADD"));
    addButton->setIcon(QIcon(QStringLiteral(":/Images/Resources/plus-round.svg")));
    addButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    connect(addButton, &QToolButton::clicked, this, &Settings::add_new_Material);
    strip->setCellWidget(0, 0, addButton);

    for (int row = 0; row < m_materialModel->rowCount(); ++row) {
        const QSqlRecord material = m_materialModel->record(row);
        const QString name = material.value(QStringLiteral("name")).toString();
        addMaterialButton(name, material.value(QStringLiteral("img")).toString());
        m_materialIds.insert(name, material.value(QStringLiteral("id")).toInt());
    }
}

void Settings::addMaterialButton(const QString &name, const QString &imagePath)
{
    QTableWidget *strip = ui->tableWidget_Material;
    auto *button = new QToolButton(strip);
    button->setText(name);
    const QPixmap icon = pictureOrDefault(imagePath).scaledToHeight(stripIconHeight, Qt::SmoothTransformation);
    button->setIcon(icon);
    button->setIconSize(icon.size());
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    connect(button, &QToolButton::clicked, this, &Settings::on_material_button_clicked);
    const int column = strip->columnCount() - 1;
    strip->insertColumn(column);
    strip->setCellWidget(0, column, button);
}

void Settings::add_new_Material()
{
    bool accepted = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("add new Material"), QStringLiteral("Material name:"),
                                               QLineEdit::Normal, QStringLiteral("Sample"), &accepted);
    if (accepted)
        addMaterial(name);
}

bool Settings::addMaterial(const QString &name)
{
    if (name.isEmpty())
        return false;
    QSqlQuery query;
    if (!query.prepare(QStringLiteral("insert into material( name) values(?)")))
        return false;
    query.addBindValue(name);
    if (!query.exec())
        return false;
    m_currentMaterial = query.lastInsertId().toInt();
    m_materialIds.insert(name, m_currentMaterial);
    addMaterialButton(name, QString());
    m_materialModel->select();
    showMaterial(m_currentMaterial, name);
    return true;
}

void Settings::on_material_button_clicked()
{
    const auto *button = qobject_cast<const QToolButton *>(sender());
    if (!button)
        return;
    m_currentMaterial = m_materialIds.value(button->text(), 0);
    showMaterial(m_currentMaterial, button->text());
}

// Rows are found by id: materials may have been deleted by hand, leaving gaps in the ids.
int Settings::rowOfMaterial(int id) const
{
    const int idColumn = m_materialModel->fieldIndex(QStringLiteral("id"));
    for (int row = 0; row < m_materialModel->rowCount(); ++row) {
        if (m_materialModel->index(row, idColumn).data().toInt() == id)
            return row;
    }
    return -1;
}

void Settings::showMaterial(int id, const QString &name)
{
    m_cutterModel->setFilter(QStringLiteral("mid =") + QString::number(id));
    ui->groupBox_Material->setTitle(name);
    const int row = rowOfMaterial(id);
    // The stored picture where the material has one that loads; the neutral picture otherwise.
    const QString imagePath = row >= 0 ? m_materialModel->record(row).value(QStringLiteral("img")).toString() : QString();
    ui->label_MaterialPicture->setPixmap(
        pictureOrDefault(imagePath).scaled(pictureSize, pictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_descriptionMapper->setCurrentIndex(row);
}

void Settings::on_toolButton_69_clicked()
{
    ui->tableView->setFocus();
    const int row = m_cutterModel->rowCount();
    m_cutterModel->insertRow(row);
    m_cutterModel->setData(m_cutterModel->index(row, 0), m_currentMaterial);
}

void Settings::showPage(int index, QPushButton *chosen)
{
    ui->stackedWidget_6->setCurrentIndex(index);
    for (QPushButton *button : {ui->button_settings_pcb, ui->button_settings_machine, ui->button_settings_stl})
        button->setStyleSheet(button == chosen ? chosenPageStyle : otherPageStyle);
}

void Settings::on_button_settings_pcb_clicked()
{
    showPage(0, ui->button_settings_pcb);
}

void Settings::on_button_settings_machine_clicked()
{
    showPage(1, ui->button_settings_machine);
}

void Settings::on_button_settings_stl_clicked()
{
    showPage(2, ui->button_settings_stl);
}

void Settings::on_button_settings_position_clicked()
{
    ui->stackedWidget_6->setCurrentIndex(3);
}

bool Settings::lookupCutter(const QString &materialName, float diameter, float &speed, float &feedrate, float &depth)
{
    const QString d = QString::number(diameter, 'g', 6);
    // Compared as written into the queries, so a stored 0.1 matches the float 0.1 it was asked for.
    const double wanted = d.toDouble();
    QSqlQuery idQuery(QStringLiteral("SELECT id FROM  material where name = \"") + materialName + QLatin1Char('"'));
    const QString id = QString::number(idQuery.next() ? idQuery.value(0).toInt() : 0);

    CutterRow upper;
    if (!readCutter(QStringLiteral("SELECT * FROM  cutter Where mid = ") + id + QStringLiteral(" and diameter >= ") + d
                        + QStringLiteral(" order by diameter limit 1"),
                    upper)
        || upper.diameter < wanted)
        return false;
    if (upper.diameter == wanted) {
        speed = float(upper.speed);
        feedrate = float(upper.feedrate);
        depth = float(upper.depth);
        return true;
    }
    CutterRow lower;
    if (!readCutter(QStringLiteral("SELECT * FROM  cutter Where mid = ") + id + QStringLiteral(" and diameter < ") + d
                        + QStringLiteral(" order by diameter desc limit 1"),
                    lower)
        || lower.diameter >= wanted)
        return false;
    const double t = (wanted - lower.diameter) / (upper.diameter - lower.diameter);
    speed = float(lower.speed + (upper.speed - lower.speed) * t);
    feedrate = float(lower.feedrate + (upper.feedrate - lower.feedrate) * t);
    depth = float(lower.depth + (upper.depth - lower.depth) * t);
    return true;
}

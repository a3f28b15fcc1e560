#include "settings/database.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantList>

namespace {

const char *const createStatements[] = {
    "create table material(id integer primary key, name varchar UNIQUE NOT NULL, description varchar DEFAULT '',img vchar DEFAULT '')",
    "create table cutter(mid integer NOT NULL, diameter FLOAT NOT NULL, speed FLOAT NOT NULL,feedrate FLOAT NOT NULL, depth float NOT NULL,PRIMARY KEY ( mid, diameter),foreign key (mid) references material(id))",
    "create table tisch(id integer primary key, name varchar NOT NULL, pos_x FLOAT NOT NULL,pos_y FLOAT NOT NULL,pos_z FLOAT NOT NULL, null_x FLOAT NOT NULL,null_y FLOAT NOT NULL,null_z FLOAT NOT NULL, taster_x FLOAT NOT NULL,taster_y FLOAT NOT NULL,taster_z FLOAT NOT NULL,ogid integer NOT NULL, probe integer NOT NULL,img vchar DEFAULT '', mill_x FLOAT NOT NULL,mill_y FLOAT NOT NULL,mill_z FLOAT NOT NULL,taster_surface_h FLOAT NOT NULL)",
    "create table auflage(id integer primary key, name varchar NOT NULL, pos_x FLOAT NOT NULL,pos_y FLOAT NOT NULL,pos_z FLOAT NOT NULL,ogid integer NOT NULL,img vchar DEFAULT '', tid integer NOT NULL, type integer NOT NULL, mill_height FLOAT NOT NULL)",
    "create table object(id integer primary key, source varchar NOT NULL, pos_x FLOAT NOT NULL,pos_y FLOAT NOT NULL,pos_z FLOAT NOT NULL,color vchar NOT NULL,alpha FLOAT NOT NULL,shine FLOAT  NOT NULL)",
    "create table object_grp(ogid integer NOT NULL,oid integer NOT NULL)",
    "create table stl_last_settings(infill integer NOT NULL,manual_probing integer NOT NULL,cutter_diamter FLOAT NOT NULL,material_h FLOAT NOT NULL,cutting_h FLOAT NOT NULL,material_id integer NOT NULL)",
    "create table maschine_settings(machine_name varchar UNIQUE NOT NULL,pcb_position_x REAL NOT NULL,pcb_position_y REAL NOT NULL,pcb_size_x REAL NOT NULL,pcb_size_y REAL NOT NULL,pcb_size_z REAL NOT NULL,probe_position_x REAL NOT NULL,probe_position_y REAL NOT NULL,bridges integer NOT NULL,passes integer NOT NULL,engraving_bit_tip_dia REAL NOT NULL,engraving_bit_angle REAL NOT NULL,engraving_bit_mill_depth REAL NOT NULL,engraving_bit_feedrate REAL NOT NULL,outline_bit_diameter REAL NOT NULL,outline_bit_mill_depth REAL NOT NULL,outline_bit_feedrate REAL NOT NULL,drill_bit_feedrate REAL NOT NULL,table_size_x REAL NOT NULL,table_size_y REAL NOT NULL,grid_size_x REAL NOT NULL,grid_size_y REAL NOT NULL)",
};

struct DefaultRows {
    const char *insertStatement;
    QList<QVariantList> rows;
};

QList<QVariantList> materialRows()
{
    return {
        {"Wood", "Standard cutting parameters for most medium to hard woods", ":/Images/Resources/holz.jpg"},
        {"PCB", "Standard cutting parameters for FR1, FR2 and FR3", ":/Images/Resources/fr4.jpg"},
        {"Foam", "Standard cutting parameters for styrofoam", ":/Images/Resources/foam.jpg"},
        {"Plastic", "Standard cutting parameters for Plexiglas, Polycarbonate, POM and similar plastics",
         ":/Images/Resources/Plexiglas.jpg"},
        {"High Density Modeling Foam", "Standard cutting parameters for high density modeling foam",
         ":/Images/Resources/Plexiglas.jpg"},
        {"Lab on a chip", "Standard cutting parameters for milling Lab on a chips", ":/Images/Resources/Plexiglas.jpg"},
    };
}

QList<QVariantList> cutterRows()
{
    return {
        {1, 1.0, 12000, 2000, 0.25}, {1, 3.0, 12000, 2000, 0.5}, {1, 6.0, 12000, 2000, 0.2},
        {2, 1.0, 12000, 2000, 0.1},  {2, 2.0, 12000, 2000, 0.1}, {2, 3.0, 12000, 1000, 0.1},
        {3, 1.0, 12000, 2000, 0.5},  {3, 2.0, 12000, 2000, 1},   {3, 3.0, 12000, 2000, 1.5},
        {4, 1.0, 12000, 500, 0.25},  {4, 2.0, 12000, 500, 0.25}, {4, 3.0, 12000, 500, 0.5},
        {5, 0.5, 12000, 1000, 0.1},  {5, 3.0, 12000, 1000, 0.25},
        {6, 0.1, 12000, 120, 0.01},  {6, 0.5, 12000, 300, 0.1},  {6, 3.0, 12000, 500, 0.1},
    };
}

QList<QVariantList> objectRows()
{
    return {
        {":/Resources/obj/Tisch.obj", 0, 0, 0, "#c4c8ce", 1.0, 0},
        {":/Resources/obj/PCB_form_klein.obj", 0, 0, 0, "#a52428", 1.1, 0},
        {":/Resources/obj/PCB_schrauben.obj", 0, 0, 0, "#9ca1a8", 1.1, 0},
        {":/Resources/obj/PCB_kleine_platine.obj", 62, 1.5, -22, "#826130", 1.0, 0.2},
        {":/Resources/obj/PCB_kleine_platine_lineal.obj", 62, 2.0, -22, "#000000", 1.1, 0},
        {":/Resources/obj/Opferplatte.obj", 0, 0, 0, "#826130", 1.1, 0},
        {"qrc:/Resources/obj/Opferplatte.obj", 0, 0, 0, "#f4df42", 1.1, 0},
        {":/Resources/obj/VacuumTisch.obj", 0, 0, 0, "#c4c8ce", 1.1, 0},
        {":/Resources/obj/CD.obj", 0, 0, 0, "#B8B8B8", 0.5, 0},
        {":/Resources/obj/CD_Auflage.obj", 0, 0, 0, "#FFFFFF", 1.1, 0},
        {":/Resources/obj/Metapor.obj", 0, 0, 0, "#FFFFFF", 1.1, 0},
    };
}

QList<QVariantList> objectGroupRows()
{
    return {{0, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}, {5, 9}, {5, 10}};
}

QList<QVariantList> fixtureRows()
{
    return {
        {"PCB_Europlatine", 0, 0, 0, 1, ":/Images/Resources/PCB_Auflage_klein.png", 1, 0, 0},
        {"PCB_Platine", 0, 0, 0, 2, ":/Images/Resources/STL_Material.png", 1, 0, 0},
        {"3D_Material_only", 0, 0, 0, 3, ":/Images/Resources/STL_Material.png", 1, 1, 0},
        {"CD", 0, 0, 0, 5, ":/Images/Resources/CD_Auflage.png", 2, 1, 50},
    };
}

QVariantList tableRow(const char *name, int objectGroup, const char *image)
{
    return {name, 0, 0, 0, -55, -13, 0, 173, 109.5, 0, objectGroup, 1, image, 175, 150, 65, 15};
}

QList<QVariantList> tableRows()
{
    return {
        tableRow("Basic_Table", 0, ":/Images/Resources/Basis_Tisch.png"),
        tableRow("Vacuum_Table", 4, ":/Images/Resources/CD_Auflage.png"),
    };
}

QVariantList machineProfileRow(const char *name)
{
    return {name, 0.0, 0.0, 150.0, 100.0, 1.6, 0.0, 0.0, 3, 1, 0.1, 30.0, 0.1, 300.0, 2.0, 0.5, 300.0, 300.0,
            300.0, 480.0, 50.0, 50.0};
}

QList<DefaultRows> defaultRows()
{
    return {
        {"insert into material( name,description,img) values(?, ?,?)", materialRows()},
        {"insert into cutter(mid, diameter, speed, feedrate, depth) values(?, ?, ?, ?, ?)", cutterRows()},
        {"insert into object(source, pos_x, pos_y, pos_z, color ,alpha ,shine) values(?, ?, ?, ?, ?, ?, ?)",
         objectRows()},
        {"insert into object_grp( ogid,oid) values( ?,?)", objectGroupRows()},
        {"insert into auflage(  name , pos_x ,pos_y ,pos_z ,ogid ,img,tid,type,mill_height) values( ?,?,?,?,?,?,?,?,?)",
         fixtureRows()},
        {"insert into tisch(  name , pos_x ,pos_y ,pos_z , null_x ,null_y ,null_z , taster_x ,taster_y ,taster_z ,ogid , probe,img, mill_x ,mill_y,mill_z ,taster_surface_h) values( ?,?,?,?,?,?,?,?,?,?, ?,?,?,?,?,?,?)",
         tableRows()},
        {"insert into maschine_settings(  machine_name, pcb_position_x,  pcb_position_y, pcb_size_x, pcb_size_y, pcb_size_z, probe_position_x, probe_position_y,bridges, passes,engraving_bit_tip_dia,  engraving_bit_angle,  engraving_bit_mill_depth,  engraving_bit_feedrate, outline_bit_diameter,  outline_bit_mill_depth,  outline_bit_feedrate, drill_bit_feedrate, table_size_x,  table_size_y, grid_size_x,  grid_size_y) values( ?,?,?,?,?,?,?,?,?,? ,?,?,?,?,?,?,?,?,?,?, ?,?)",
         {machineProfileRow("current"), machineProfileRow("korvex"), machineProfileRow("korvex kit")}},
    };
}

// Failed executions are ignored on purpose: a row that cannot be inserted must not keep the others out.
QSqlError insertRows(const DefaultRows &table)
{
    QSqlQuery query;
    if (!query.prepare(QString::fromLatin1(table.insertStatement)))
        return query.lastError();
    for (const QVariantList &row : table.rows) {
        for (int i = 0; i < row.size(); ++i)
            query.bindValue(i, row.at(i));
        query.exec();
    }
    return {};
}

QSqlDatabase openDefaultConnection(const QString &fileName)
{
    QSqlDatabase db = QSqlDatabase::contains(QSqlDatabase::defaultConnection)
                          ? QSqlDatabase::database(QSqlDatabase::defaultConnection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.close();
    db.setDatabaseName(fileName);
    db.open();
    return db;
}

// Tables added after the first release: created where they are missing, whatever else exists.
void addLaterTables()
{
    QSqlQuery(QStringLiteral("create table if not exists job_settings(pause_on_error integer NOT NULL)"));
    QSqlQuery rows(QStringLiteral("select count(*) from job_settings"));
    if (rows.next() && rows.value(0).toInt() == 0)
        QSqlQuery(QStringLiteral("insert into job_settings(pause_on_error) values(1)"));
}

QSqlError insertDefaultRows(const QStringList &existingTables)
{
    if (!existingTables.contains(QStringLiteral("stl_last_settings"))) {
        const DefaultRows lastStlSettings{
            "insert into stl_last_settings(infill,manual_probing,cutter_diamter,material_h,cutting_h,material_id) values(?, ?,?,?,?,?)",
            {QVariantList{1, 1, 0.1, 10.0, 0.5, 1}}};
        const QSqlError error = insertRows(lastStlSettings);
        if (error.isValid())
            return error;
    }
    for (const DefaultRows &table : defaultRows()) {
        const QSqlError error = insertRows(table);
        if (error.isValid())
            return error;
    }
    return {};
}

} // namespace

QString defaultDatabasePath()
{
    // The database lives in the user's data directory rather than the working directory, so the program
    // finds its settings wherever it is started from.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return dir + QStringLiteral("/korvexdb");
}

QSqlError initDatabase()
{
    return initDatabase(defaultDatabasePath());
}

QSqlError initDatabase(const QString &fileName)
{
    QSqlDatabase db = openDefaultConnection(fileName);
    if (!db.isOpen())
        return db.lastError();

    QSqlQuery(QStringLiteral("PRAGMA foreign_keys = ON;"));
    addLaterTables();
    const QStringList existingTables = db.tables(QSql::Tables);

    // On every start after the first the very first statement fails because the tables exist: that error
    // is returned and no row is added twice.
    for (const char *statement : createStatements) {
        QSqlQuery query;
        if (!query.exec(QString::fromLatin1(statement)))
            return query.lastError();
    }

    // One transaction for all default rows: a first start then writes the file once instead of once per row.
    db.transaction();
    const QSqlError error = insertDefaultRows(existingTables);
    db.commit();
    return error;
}

#pragma once
// The side panel's regions: a table of each region's name, role and figures on the
// frame shown. The name is edited in its cell, the role chosen in its row, Delete (or
// the row's menu) removes it, and the selected row is the region highlighted on the
// picture.

#include "view/regions/RegionTable.h"

#include <QGroupBox>

class QLabel;
class QTableWidget;

namespace view {

class RegionsModel;

class RegionsSection : public QGroupBox {
    Q_OBJECT
public:
    enum Column { Name, Role, Pixels, Mean, Std, P05, Median, P95, Nodata, Saturated, Columns };

    explicit RegionsSection(RegionsModel* model, QWidget* parent = nullptr);

    // The figures of the frame shown, for the model's regions as they are now.
    void showTable(const RegionTable& table);
    // The columns of the index's figures named after it: "SAVI-Mean", "SAVI=-10".
    void setIndexName(const QString& name);
    // The figures are being worked out.
    void showPending();

    QTableWidget* table() const noexcept { return table_; }
    QString statusText() const;

signals:
    // An edit refused, with the reason.
    void refused(const QString& message);

private:
    void rebuild();
    void fillFigures();
    void removeSelected();

    RegionsModel* model_;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    RegionTable shown_;
    bool pending_ = false;
    bool filling_ = false;  // the table's own changes are not the user's edits
};

}  // namespace view

#include "view/regions/RegionsSection.h"

#include "engine/calibration/Calibration.h"
#include "view/ReadableLabel.h"
#include "view/regions/RegionsModel.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace view {

namespace {

constexpr engine::RegionRole kRoles[] = {engine::RegionRole::Plot, engine::RegionRole::White,
                                         engine::RegionRole::Dark};

QString fourDecimals(const std::optional<double>& v)
{
    return v ? QString::number(*v, 'f', 4) : QStringLiteral("-");
}

QString fourDecimals(const std::optional<float>& v)
{
    return v ? QString::number(static_cast<double>(*v), 'f', 4) : QStringLiteral("-");
}

}  // namespace

RegionsSection::RegionsSection(RegionsModel* model, QWidget* parent)
    : QGroupBox(QStringLiteral("領域"), parent), model_(model)
{
    auto* column = new QVBoxLayout(this);
    table_ = new QTableWidget(0, Columns);
    table_->setObjectName(QStringLiteral("regions"));
    table_->setAccessibleName(QStringLiteral("領域の一覧"));
    table_->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("役割"), QStringLiteral("画素数"),
                                       QStringLiteral("NDVI-Mean"), QStringLiteral("標準偏差"), QStringLiteral("p05"),
                                       QStringLiteral("中央値"), QStringLiteral("p95"), QStringLiteral("NDVI=-10"),
                                       QStringLiteral("飽和")});
    table_->horizontalHeaderItem(Saturated)->setToolTip(QStringLiteral("どちらかのバンドが 255 の画素数"));
    setIndexName(QStringLiteral("NDVI"));
    table_->setToolTip(QStringLiteral("名前はダブルクリックで変更、Delete キーか右クリックで削除します"));
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);
    table_->setMinimumHeight(table_->fontMetrics().height() * 6);
    // Every column whole: the figures are read across, and none is cut off.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    column->addWidget(table_);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("regionsStatus"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // As wide as the table: a long calibration line wraps rather than widening it.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(status_);
    // No wider than its columns, beside a chart that takes the rest.
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);

    // The table's own key only: Delete in a name being edited deletes text, not the region.
    auto* remove = new QAction(QStringLiteral("削除"), table_);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, &RegionsSection::removeSelected);
    table_->addAction(remove);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_ || item->column() != Name) return;
        const auto problem = model_->rename(static_cast<std::size_t>(item->row()), item->text());
        if (problem) {
            // Back to the name it has; after the edit has finished with the item.
            QMetaObject::invokeMethod(this, &RegionsSection::rebuild, Qt::QueuedConnection);
            emit refused(*problem);
        }
    });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        if (filling_) return;
        const auto rows = table_->selectionModel()->selectedRows();
        model_->select(rows.isEmpty() ? std::nullopt : std::optional<std::size_t>(rows.first().row()));
    });
    connect(model_, &RegionsModel::changed, this, [this] {
        // The figures shown were of the regions before: the window brings new ones.
        shown_.rows.clear();
        rebuild();
    });
    connect(model_, &RegionsModel::selectionChanged, this, &RegionsSection::rebuild);
    rebuild();
}

void RegionsSection::rebuild()
{
    filling_ = true;
    const auto& regions = model_->set().regions;
    const int rows = static_cast<int>(regions.size());
    // Rows are reused, not made anew: this may run while an edited name is committed.
    table_->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const engine::Region& region = regions[static_cast<std::size_t>(r)];
        for (int c = 0; c < Columns; ++c) {
            if (c == Role || table_->item(r, c)) continue;
            auto* item = new QTableWidgetItem;
            if (c != Name) {
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            table_->setItem(r, c, item);
        }
        table_->item(r, Name)->setText(QString::fromStdString(region.name));
        auto* role = qobject_cast<QComboBox*>(table_->cellWidget(r, Role));
        if (!role) {
            role = new QComboBox;
            for (const auto k : kRoles) role->addItem(roleText(k));
            role->setAccessibleName(QStringLiteral("役割"));
            connect(role, &QComboBox::currentIndexChanged, this, [this, role](int index) {
                if (filling_ || index < 0) return;
                // The row the combo stands in now.
                for (int row = 0; row < table_->rowCount(); ++row) {
                    if (table_->cellWidget(row, Role) == role) {
                        model_->setRole(static_cast<std::size_t>(row), kRoles[index]);
                        return;
                    }
                }
            });
            table_->setCellWidget(r, Role, role);
        }
        const QSignalBlocker block(role);
        role->setCurrentIndex(static_cast<int>(std::find(std::begin(kRoles), std::end(kRoles), region.role) -
                                               std::begin(kRoles)));
    }
    fillFigures();
    const auto selected = model_->selected();
    if (selected) {
        table_->selectRow(static_cast<int>(*selected));
    } else {
        table_->clearSelection();
    }
    filling_ = false;
    table_->resizeColumnsToContents();
}

void RegionsSection::fillFigures()
{
    const bool wasFilling = filling_;
    filling_ = true;
    for (int r = 0; r < table_->rowCount(); ++r) {
        const auto row = static_cast<std::size_t>(r);
        const RegionRow* figures = row < shown_.rows.size() ? &shown_.rows[row] : nullptr;
        QStringList cells;
        QString tip;
        if (pending_) {
            cells << QStringLiteral("計算中…");
        } else if (figures && !figures->inside) {
            cells << QStringLiteral("画像の外");
            tip = QStringLiteral("この領域は画像の外にはみ出しているため、数値を出せません");
        } else if (figures && figures->figures) {
            const engine::RegionFigures& f = *figures->figures;
            cells << QString::number(f.pixels) << fourDecimals(f.mean) << fourDecimals(f.stddev) << fourDecimals(f.p05)
                  << fourDecimals(f.median) << fourDecimals(f.p95) << QString::number(f.nodata)
                  << QString::number(f.saturated);
        }
        for (int c = Pixels; c < Columns; ++c) {
            QTableWidgetItem* item = table_->item(r, c);
            const int k = c - Pixels;
            item->setText(k < cells.size() ? cells[k] : QString());
            item->setToolTip(tip);
            item->setForeground(figures && !figures->inside && !pending_ ? QBrush(QColor(200, 0, 0)) : QBrush());
        }
    }
    filling_ = wasFilling;
    // Every column whole in the dock: the table only ever grows, so that stepping
    // through frames does not make the picture and the chart jump.
    table_->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
    const int whole = table_->horizontalHeader()->length() + 2 * table_->frameWidth() +
                      table_->verticalScrollBar()->sizeHint().width();
    if (whole > table_->minimumWidth()) table_->setMinimumWidth(whole);

    QStringList lines;
    if (pending_) {
        lines << QStringLiteral("計算中…");
    } else if (!shown_.problem.isEmpty()) {
        lines << shown_.problem;
    } else if (shown_.model && table_->rowCount() > 0) {
        if (shown_.registration) lines << placementText(*shown_.registration);
        lines << (shown_.ownPanel ? QStringLiteral("この画像の白色板による較正: ") : QStringLiteral("較正: ")) +
                     QString::fromStdString(engine::describeModel(*shown_.model));
        lines << shown_.panelWarnings;
    } else if (table_->rowCount() == 0) {
        lines << QStringLiteral("編集 > 領域を描く で画像の上に長方形か多角形を描きます。");
    }
    setReadableText(status_, lines.join(QLatin1Char('\n')));
}

void RegionsSection::setIndexName(const QString& name)
{
    table_->horizontalHeaderItem(Mean)->setText(name + QStringLiteral("-Mean"));
    table_->horizontalHeaderItem(Nodata)->setText(name + QStringLiteral("=-10"));
    table_->horizontalHeaderItem(Nodata)->setToolTip(name + QStringLiteral("=-10 の画素数（平均などには入りません）"));
}

void RegionsSection::showTable(const RegionTable& table)
{
    pending_ = false;
    shown_ = table;
    fillFigures();
    table_->resizeColumnsToContents();
}

void RegionsSection::showPending()
{
    pending_ = true;
    fillFigures();
}

QString RegionsSection::statusText() const
{
    return status_->text();
}

void RegionsSection::removeSelected()
{
    if (const auto selected = model_->selected()) model_->remove(*selected);
}

}  // namespace view

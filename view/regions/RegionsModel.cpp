#include "view/regions/RegionsModel.h"

#include <utility>

namespace view {

class RegionsModel::Edit {
public:
    Edit(RegionsModel& model, QString text)
        : model_(model), text_(std::move(text)), outer_(!model.editing_), before_(outer_ ? model.set_ : engine::RegionSet{})
    {
        model_.editing_ = true;
    }
    ~Edit()
    {
        if (!outer_) return;
        model_.editing_ = false;
        if (engine::regionsJson(before_) != engine::regionsJson(model_.set_)) emit model_.edited(text_, before_);
    }
    Edit(const Edit&) = delete;
    Edit& operator=(const Edit&) = delete;

private:
    RegionsModel& model_;
    QString text_;
    bool outer_;
    engine::RegionSet before_;
};

RegionsModel::RegionsModel(QObject* parent) : QObject(parent) {}

void RegionsModel::setSet(engine::RegionSet set)
{
    set_ = std::move(set);
    const bool hadSelection = selected_.has_value();
    selected_.reset();
    emit changed();
    if (hadSelection) emit selectionChanged();
}

std::optional<std::size_t> RegionsModel::indexOf(const QString& name) const
{
    const std::string wanted = name.toStdString();
    for (std::size_t i = 0; i < set_.regions.size(); ++i) {
        if (set_.regions[i].name == wanted) return i;
    }
    return std::nullopt;
}

QString RegionsModel::freeName() const
{
    for (std::size_t n = 1;; ++n) {
        const QString name = QStringLiteral("R%1").arg(n);
        if (!indexOf(name)) return name;
    }
}

std::optional<QString> RegionsModel::nameProblem(const QString& name, std::optional<std::size_t> index) const
{
    if (name.trimmed().isEmpty()) return QStringLiteral("領域の名前を入力してください");
    const auto other = indexOf(name.trimmed());
    if (other && other != index) return QStringLiteral("領域の名前「%1」は既に使われています").arg(name);
    return std::nullopt;
}

std::optional<QString> RegionsModel::add(engine::Region region)
{
    if (auto problem = nameProblem(QString::fromStdString(region.name))) return problem;
    const Edit edit(*this, QStringLiteral("領域を追加"));
    const engine::RegionRole role = region.role;
    region.role = engine::RegionRole::Plot;
    set_.regions.push_back(std::move(region));
    const std::size_t index = set_.regions.size() - 1;
    if (role != engine::RegionRole::Plot) {
        setRole(index, role);
    } else {
        emit changed();
    }
    select(index);
    return std::nullopt;
}

std::optional<QString> RegionsModel::rename(std::size_t index, const QString& name)
{
    if (index >= set_.regions.size()) return std::nullopt;
    if (auto problem = nameProblem(name, index)) return problem;
    const std::string wanted = name.trimmed().toStdString();
    if (set_.regions[index].name == wanted) return std::nullopt;
    const Edit edit(*this, QStringLiteral("領域の名前"));
    set_.regions[index].name = wanted;
    emit changed();
    return std::nullopt;
}

void RegionsModel::setRole(std::size_t index, engine::RegionRole role)
{
    if (index >= set_.regions.size() || set_.regions[index].role == role) return;
    const Edit edit(*this, QStringLiteral("領域の役割"));
    if (role != engine::RegionRole::Plot) {
        for (auto& r : set_.regions) {
            if (r.role == role) r.role = engine::RegionRole::Plot;
        }
    }
    set_.regions[index].role = role;
    emit changed();
}

void RegionsModel::remove(std::size_t index)
{
    if (index >= set_.regions.size()) return;
    const Edit edit(*this, QStringLiteral("領域を削除"));
    set_.regions.erase(set_.regions.begin() + static_cast<std::ptrdiff_t>(index));
    std::optional<std::size_t> selection = selected_;
    if (selection && *selection == index) {
        selection.reset();
    } else if (selection && *selection > index) {
        --*selection;
    }
    // The index moves without the region changing: only a lost selection is news.
    const bool lost = selected_.has_value() && !selection.has_value();
    selected_ = selection;
    emit changed();
    if (lost) emit selectionChanged();
}

void RegionsModel::select(std::optional<std::size_t> index)
{
    if (index && *index >= set_.regions.size()) index.reset();
    if (index == selected_) return;
    selected_ = index;
    emit selectionChanged();
}

QString roleText(engine::RegionRole role)
{
    switch (role) {
    case engine::RegionRole::White: return QStringLiteral("白色板");
    case engine::RegionRole::Dark: return QStringLiteral("暗色板");
    case engine::RegionRole::Plot: break;
    }
    return QStringLiteral("なし");
}

engine::SeasonSettings seasonSettingsFor(const engine::RegionSet& set, const engine::NdviModel& current,
                                         engine::WhiteFrom whiteFrom, std::shared_ptr<const engine::FlatField> flat)
{
    engine::SeasonSettings settings;
    settings.flatField = std::move(flat);
    settings.whiteFrom = whiteFrom;
    settings.reflectances = current;
    bool hasWhite = false;
    for (const auto& r : set.regions) hasWhite = hasWhite || r.role == engine::RegionRole::White;
    if (!hasWhite) settings.fixed = current;
    return settings;
}

}  // namespace view

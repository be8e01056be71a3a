#include "view/regions/FieldTagsDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace view {

std::optional<std::vector<int>> askFieldTags(QWidget* parent, const std::vector<int>& found,
                                             const std::vector<int>& checked)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("圃場のマーカー"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("圃場に固定されていて動かないマーカーを選んでください（2 個以上）。\n"
                                            "白色板などと一緒に動くマーカーは外します。"));
    label->setWordWrap(true);
    layout->addWidget(label);
    std::vector<QCheckBox*> boxes;
    for (const int id : found) {
        auto* box = new QCheckBox(QStringLiteral("マーカー %1").arg(id));
        box->setChecked(std::find(checked.begin(), checked.end(), id) != checked.end());
        layout->addWidget(box);
        boxes.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<int> chosen;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i]->isChecked()) chosen.push_back(found[i]);
    }
    return chosen;
}

}  // namespace view

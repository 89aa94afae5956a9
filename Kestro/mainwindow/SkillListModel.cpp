#include "Kestro/mainwindow/SkillListModel.h"

#include <QFontMetricsF>

#include <algorithm>
#include <unordered_set>

namespace kestro {

SkillListModel::SkillListModel(QObject* parent) : QAbstractListModel(parent) {}

SkillListModel::Row SkillListModel::rowFor(const SkillListData::Entry& entry) {
    return Row{entry.id, QString::fromStdString(entry.slashCommand),
               QString::fromStdString(entry.name), QString::fromStdString(entry.symbol)};
}

void SkillListModel::reindex() {
    byId_.clear();
    byId_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        byId_.emplace(rows_[i].id, static_cast<int>(i));
    }
}

void SkillListModel::setSkillData(std::shared_ptr<const SkillListData> data) {
    if (!data) {
        data = SkillListData::make(std::vector<Skill>{});
    }
    data_ = std::move(data);
    const auto& entries = data_->entries();

    // 1. Rows whose skill is gone, in runs from the end so earlier numbers stay valid.
    for (int i = static_cast<int>(rows_.size()) - 1; i >= 0;) {
        if (data_->indexOf(rows_[static_cast<std::size_t>(i)].id) < entries.size()) {
            --i;
            continue;
        }
        int first = i;
        while (first > 0 &&
               data_->indexOf(rows_[static_cast<std::size_t>(first - 1)].id) >= entries.size()) {
            --first;
        }
        beginRemoveRows({}, first, i);
        rows_.erase(rows_.begin() + first, rows_.begin() + i + 1);
        endRemoveRows();
        i = first - 1;
    }

    // 2. The staying rows in the new list's order, when that order changed.
    bool ordered = true;
    for (std::size_t i = 1; i < rows_.size() && ordered; ++i) {
        ordered = data_->indexOf(rows_[i - 1].id) < data_->indexOf(rows_[i].id);
    }
    if (!ordered) {
        Q_EMIT layoutAboutToBeChanged();
        const QModelIndexList before = persistentIndexList();
        std::vector<Uuid> ids;
        ids.reserve(static_cast<std::size_t>(before.size()));
        for (const QModelIndex& index : before) {
            ids.push_back(rows_[static_cast<std::size_t>(index.row())].id);
        }
        std::stable_sort(rows_.begin(), rows_.end(), [this](const Row& a, const Row& b) {
            return data_->indexOf(a.id) < data_->indexOf(b.id);
        });
        reindex();
        QModelIndexList after;
        after.reserve(before.size());
        for (const Uuid& id : ids) {
            after.push_back(index(byId_.at(id), 0));
        }
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged();
    }

    // 3. New skills in runs at their places, then the changed texts of the staying ones. An id
    // listed twice gets the row of its first entry alone, so rows_ holds each id once and row
    // `row` is always the staying row of the entry at hand.
    std::unordered_set<Uuid> present;
    present.reserve(rows_.size());
    for (const Row& r : rows_) {
        present.insert(r.id);
    }
    auto shown = [&](std::size_t i) { return data_->indexOf(entries[i].id) == i; };
    std::size_t row = 0;
    for (std::size_t i = 0; i < entries.size();) {
        if (!shown(i)) {
            ++i;
            continue;
        }
        if (present.count(entries[i].id)) {
            Row next = rowFor(entries[i]);
            if (!(rows_[row] == next)) {
                rows_[row] = std::move(next);
                const QModelIndex changed = index(static_cast<int>(row), 0);
                Q_EMIT dataChanged(changed, changed);
            }
            ++row;
            ++i;
            continue;
        }
        std::vector<Row> added;
        std::size_t end = i;
        for (; end < entries.size() && !present.count(entries[end].id); ++end) {
            if (shown(end)) {
                added.push_back(rowFor(entries[end]));
            }
        }
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row + added.size() - 1));
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(row),
                     std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        endInsertRows();
        row += added.size();
        i = end;
    }
    reindex();
}

int SkillListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SkillListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const Row& r = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return r.name;
    case commandRole:
        return r.command;
    case symbolRole:
        return r.symbol;
    case idRole:
        return QString::fromStdString(r.id.uuidString());
    default:
        return {};
    }
}

QModelIndex SkillListModel::indexOf(const Uuid& id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? QModelIndex() : index(it->second, 0);
}

const Skill* SkillListModel::skillAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !data_) {
        return nullptr;
    }
    const std::size_t at = data_->indexOf(rows_[static_cast<std::size_t>(row)].id);
    return at < data_->size() ? &data_->skills()[at] : nullptr;
}

SkillRowLayout SkillRowLayout::of(const QRectF& row) {
    SkillRowLayout l;
    const qreal top = row.center().y() - buttonSide / 2;
    // Buttons sit 10 apart; the layout gives them what they need before the texts.
    qreal right = row.right() - paddingX;
    l.menu = QRectF(right - buttonSide, top, buttonSide, buttonSide);
    right = l.menu.left() - spacing;
    l.play = QRectF(right - buttonSide, top, buttonSide, buttonSide);
    right = l.play.left() - spacing;
    l.edit = QRectF(right - buttonSide, top, buttonSide, buttonSide);
    right = l.edit.left() - spacing - minSpacer;
    const qreal left = row.left() + paddingX;
    l.icon = QRectF(left, row.top(), iconWidth, row.height());
    const qreal textLeft = l.icon.right() + spacing;
    l.texts = QRectF(textLeft, row.top() + paddingY, std::max<qreal>(0, right - textLeft),
                     row.height() - 2 * paddingY);
    return l;
}

} // namespace kestro

#pragma once

#include "Kestro/app/SkillListData.h"
#include "Kestro/text/ElidedLines.h"

#include <QAbstractListModel>
#include <QFont>
#include <QHash>
#include <QRectF>
#include <QString>

#include <memory>
#include <vector>

namespace kestro {

// The main window's skill list as an item model: one row per skill, identified by its id. A new
// load of the skills updates it in place (rows of skills that stay keep their place in the
// views, their selection and their persistent indices), so only the changed rows are drawn again.
class SkillListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { commandRole = Qt::UserRole + 1, symbolRole, idRole };

    explicit SkillListModel(QObject* parent = nullptr);

    void setSkillData(std::shared_ptr<const SkillListData> data);
    const std::shared_ptr<const SkillListData>& skillData() const { return data_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The row showing the skill with `id`, or an invalid index.
    QModelIndex indexOf(const Uuid& id) const;
    Uuid idAt(int row) const { return rows_[static_cast<std::size_t>(row)].id; }
    // The skill as the row shows it now, or null.
    const Skill* skillAt(int row) const;

private:
    struct Row {
        Uuid id;
        QString command;
        QString name;
        QString symbol;
        bool operator==(const Row&) const = default;
    };
    static Row rowFor(const SkillListData::Entry& entry);
    void reindex();

    std::shared_ptr<const SkillListData> data_;
    std::vector<Row> rows_;
    // Row number of each id in rows_.
    std::unordered_map<Uuid, int> byId_;
};

// Where a skill row puts its parts, for a row of the given rectangle: the three buttons are laid
// first from the right edge and the texts take what is left, so the buttons stay whole at any
// width.
struct SkillRowLayout {
    static constexpr qreal paddingX = 10;
    static constexpr qreal paddingY = 7;
    static constexpr qreal spacing = 10;
    static constexpr qreal iconWidth = 18;
    static constexpr qreal minSpacer = 8;
    static constexpr qreal buttonSide = 22;

    QRectF icon;
    QRectF texts;
    QRectF edit;
    QRectF play;
    QRectF menu;

    static SkillRowLayout of(const QRectF& row);
};

} // namespace kestro

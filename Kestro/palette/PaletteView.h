#pragma once

#include "Kestro/palette/PaletteModel.h"
#include "Kestro/text/ElidedLines.h"

#include <QRegion>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QLineEdit;
class QToolButton;
class QVariantAnimation;

namespace kestro {

// The command palette's content: a capsule search bar with the brand mark, a "/", the query
// field and a close button, and under it the ranked skills and the row that records a new one.
// It slides in from the right edge when shown and out again when an item is chosen, the close
// button or the empty part of the panel is clicked; 0.3 s after the slide-out starts it asks
// its owner to close. Escape and focus loss are the panel's. Data is drawn as plain text.
class PaletteView : public QWidget {
    Q_OBJECT
public:
    using RunCallback =
        std::function<void(const Skill&, const std::map<std::string, std::string>&)>;

    static constexpr int barWidth = 420;
    static constexpr int entranceMs = 360;
    static constexpr int entranceSpinMs = 500;
    static constexpr int focusDelayMs = 180;
    static constexpr int exitMs = 280;
    static constexpr int exitSpinMs = 400;
    static constexpr int closeDelayMs = 300;

    PaletteView(RunCallback onRun, std::function<void()> onCreateNew, std::function<void()> onClose,
                QWidget* parent = nullptr);

    void setSkills(std::vector<Skill> skills);
    void setSkillData(std::shared_ptr<const SkillListData> list);
    const PaletteModel& model() const { return model_; }
    QLineEdit* queryField() const { return query_; }
    QToolButton* closeButton() const { return close_; }

    // Starts the slide-out; the owner is asked to close 0.3 s later.
    void dismiss();

    // 0 while out of place, 1 in place; and the mark's turn in degrees.
    qreal revealProgress() const { return reveal_; }
    qreal spinAngle() const { return spin_; }

    // The rectangles of the bar and the list rows, in this widget's coordinates.
    QRectF barRect() const;
    QRectF listRect() const;
    QRectF rowRect(std::size_t row) const;

    // Whether the desktop blends the panel with what lies beneath (the default); without, the
    // view paints an opaque backdrop under its shapes and drops its fades and shadows.
    void setComposited(bool composited);
    bool composited() const { return composited_; }

    // What the view paints opaquely, for shaping the panel where nothing composes translucency.
    QRegion paintedRegion() const;

Q_SIGNALS:
    // The painted shape moved (during the slide), so a shaped panel must follow.
    void shapeChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void perform(PaletteModel::Action action);
    void animateReveal(qreal to, int ms, bool easeOut);
    void animateSpin(qreal to, int ms);
    void layoutChildren();
    int rowAt(QPointF point) const;
    qreal columnX() const;

    RunCallback onRun_;
    std::function<void()> onCreateNew_;
    std::function<void()> onClose_;
    PaletteModel model_;
    QLineEdit* query_ = nullptr;
    QToolButton* close_ = nullptr;
    QVariantAnimation* revealAnimation_ = nullptr;
    QVariantAnimation* spinAnimation_ = nullptr;
    QImage tintedMark_;
    qreal reveal_ = 0;
    qreal spin_ = 0;
    bool entered_ = false;
    bool composited_ = true;
    int pressedRow_ = -2;
    // The rows' texts as cut to fit, measured when they change.
    ElidedLines titles_;
    ElidedLines captions_;
};

} // namespace kestro

#pragma once

#include "Kestro/pill/PillModel.h"
#include "Kestro/pill/PillPresentation.h"

#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QStringList>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QPainter;
class QPushButton;
class QToolButton;

namespace kestro {

// The pill's drawing: one cluster at the right edge (creation feedback, the spinning mark of
// a cast, the open pill's two buttons, or the resting mark) and, to its left, a tip in a white
// bubble. It is the pill panel's top-level widget, 320 by 140. Main thread.
class PillView final : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> toggleRecording;
        std::function<void()> showMainWindow;
        std::function<void()> dismissTips;
    };

    explicit PillView(PillModel* model, QWidget* parent = nullptr);

    void setActions(Actions actions) { actions_ = std::move(actions); }
    // The brand mark, drawn as a template tinted per use; a null image draws the fallbacks.
    void setMark(QImage mark);
    // New values from the application; the view redraws and animates what changed.
    void setInputs(const PillInputs& inputs);
    const PillInputs& inputs() const { return inputs_; }

    PillPresentation::Cluster cluster() const { return cluster_; }
    std::optional<std::string> tip() const { return tip_; }
    // The turn of the spinning mark in degrees, restarting from 0 at each showing.
    double spinAngle() const;
    // How far the cluster's change has come, from 0 to 1; 1 at rest.
    double clusterProgress() const;

    // Without a compositing manager the panel is shaped to what it draws.
    void setMasked(bool masked);
    bool isMasked() const { return masked_; }
    QRegion drawnRegion() const;

    // Where things stand, in the view's coordinates.
    QRectF clusterRect() const;
    QRectF tipBubbleRect() const; // the bubble without its caret; empty without a tip
    QToolButton* recordButton() const { return recordButton_; }
    QToolButton* skillsButton() const { return skillsButton_; }
    QToolButton* tipCloseButton() const { return tipClose_; }
    QPushButton* tipLink() const { return tipLink_; }

    // A skill name fitted into two lines of 58 points: the scale of the 9 point font, from 1
    // down to 0.6, and the lines, the second cut with "…" when even the smallest size overflows.
    struct NameFit {
        double scale = 1;
        QStringList lines;
    };
    static NameFit fitName(const QString& name, const QFont& font9);
    // At most this many characters of a name are laid out; a longer one is cut with "…".
    static constexpr qsizetype nameBound = 240;
    static QString boundedName(const std::string& name);
    // The fit of the success name, made once per name.
    const NameFit& successFit() const;

    // A font of `px` logical pixels for a device of `dpi` logical dots per inch.
    static QFont uiFont(double px, QFont::Weight weight, double dpi);

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh(bool animate);
    void layoutChildren();
    void updateMask();
    QFont font(double px, QFont::Weight weight) const;
    QRectF clusterRectFor(PillPresentation::Cluster c) const;
    QSizeF tipBubbleSize(const QString& text) const;
    QSizeF measureTipBubble(const QString& text) const;
    QRectF tipTextRect() const;
    void paintCluster(QPainter& p, PillPresentation::Cluster c, double progress);
    void paintTip(QPainter& p, const QString& text, double progress);
    void paintMark(QPainter& p, const QRectF& r, const QColor& color) const;
    void paintSpinningMark(QPainter& p, const QRectF& r) const;

    PillModel* model_;
    Actions actions_;
    PillInputs inputs_;
    QImage mark_;
    bool masked_ = false;

    PillPresentation::Cluster cluster_ = PillPresentation::Cluster::collapsed;
    std::optional<PillPresentation::Cluster> leaving_;
    std::optional<std::string> tip_;
    std::optional<std::string> leavingTip_;
    QVariantAnimation clusterAnimation_;
    QVariantAnimation tipAnimation_;
    QElapsedTimer spinClock_;
    QTimer spinTimer_;

    // What was measured, kept until the text changes.
    mutable std::optional<NameFit> successFit_;
    mutable QHash<QString, QSizeF> tipSizes_;
    mutable std::optional<std::array<QSizeF, 3>> captionSizes_;

    QToolButton* recordButton_;
    QToolButton* skillsButton_;
    QToolButton* tipClose_;
    QPushButton* tipLink_;
};

} // namespace kestro

#include "Kestro/palette/PaletteView.h"

#include "Kestro/ui/Brand.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QEasingCurve>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>
#include <QVariantAnimation>

#include <cmath>
#include <map>

namespace kestro {

namespace {

constexpr qreal topMargin = 20;
constexpr qreal trailingMargin = 28;
constexpr qreal columnSpacing = 8;
constexpr qreal barHeight = 40;
constexpr qreal barPaddingX = 12;
constexpr qreal barSpacing = 8;
constexpr qreal listPadding = 6;
constexpr qreal rowSpacing = 2;
// Eight skill rows and the create row fit under the bar in the 460 px panel.
constexpr qreal rowHeight = 40;
constexpr qreal rowPaddingX = 10;
constexpr qreal rowPaddingY = 7;
constexpr qreal iconColumn = 20;
constexpr qreal markSize = 20;
constexpr qreal fallbackMarkSize = 16;

constexpr QColor primary = Style::primaryText;
constexpr QColor secondary = Style::secondaryText;
const QColor material(248, 248, 250, 240);
// The material as an uncomposed window shows it: its premultiplied colour.
const QColor opaqueMaterial(233, 233, 235);

QFont uiFont(int px, QFont::Weight weight, bool monospaced = false) {
    QFont f = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    f.setPixelSize(px);
    f.setWeight(weight);
    return f;
}

using Style::easeIn;
using Style::easeInOut;
using Style::easeOut;

// A soft shadow: the rounded rectangle repeated a little larger and fainter each time, moved
// down. The union of outlines behind it is costly and the palette's shapes come in few sizes, so
// each is drawn once into an image and kept.
void paintShadow(QPainter& p, const QRectF& shape, qreal corner, qreal opacity, qreal radius,
                 qreal dy) {
    struct Key {
        int w, h, corner, opacity, radius;
        auto operator<=>(const Key&) const = default;
    };
    static std::map<Key, QImage> kept;
    const QSize size = shape.size().toSize();
    const Key key{size.width(), size.height(), static_cast<int>(std::lround(corner * 16)),
                  static_cast<int>(std::lround(opacity * 1000)), static_cast<int>(radius)};
    const int pad = static_cast<int>(std::ceil(radius)) + 1;
    auto found = kept.find(key);
    if (found == kept.end()) {
        // Few sizes ever occur (the bar, and the list for each number of rows), but a bound
        // keeps an odd caller from growing this without end.
        if (kept.size() > 32) {
            kept.clear();
        }
        QImage image(size + QSize(2 * pad, 2 * pad), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter q(&image);
        q.setRenderHint(QPainter::Antialiasing);
        q.setPen(Qt::NoPen);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(pad, pad, size.width(), size.height()), corner, corner);
        const int steps = static_cast<int>(radius);
        for (int i = steps; i >= 1; --i) {
            QPainterPathStroker stroker;
            stroker.setWidth(i * 2);
            stroker.setJoinStyle(Qt::RoundJoin);
            q.setBrush(QColor(0, 0, 0, static_cast<int>(255 * opacity / steps * 0.9)));
            q.drawPath(stroker.createStroke(outline).united(outline));
        }
        q.end();
        found = kept.emplace(key, std::move(image)).first;
    }
    p.drawImage(QPointF(shape.x() - pad, shape.y() - pad + dy), found->second);
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

PaletteView::PaletteView(RunCallback onRun, std::function<void()> onCreateNew,
                         std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), onRun_(std::move(onRun)), onCreateNew_(std::move(onCreateNew)),
      onClose_(std::move(onClose)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);

    query_ = new QLineEdit(this);
    query_->setFrame(false);
    query_->setFont(uiFont(15, QFont::Normal));
    query_->setPlaceholderText(QString());
    query_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; "
                                         "color: rgba(0,0,0,217); }"));
    query_->installEventFilter(this);
    connect(query_, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_.setQuery(text.toStdString());
        update();
        Q_EMIT shapeChanged();
    });
    connect(query_, &QLineEdit::returnPressed, this, [this] { perform(model_.activate()); });

    close_ = new QToolButton(this);
    close_->setAutoRaise(true);
    close_->setFocusPolicy(Qt::NoFocus);
    close_->setFixedSize(18, 18);
    close_->setIconSize(QSize(13, 13));
    close_->setIcon(Symbols::icon(QStringLiteral("xmark"), secondary, Symbols::Weight::semibold));
    close_->setToolTip(QStringLiteral("Close"));
    close_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(close_, &QToolButton::clicked, this, [this] { dismiss(); });

    revealAnimation_ = new QVariantAnimation(this);
    connect(revealAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        reveal_ = v.toReal();
        layoutChildren();
        update();
        Q_EMIT shapeChanged();
    });
    spinAnimation_ = new QVariantAnimation(this);
    connect(spinAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        spin_ = v.toReal();
        update(barRect().toAlignedRect());
    });

    if (const auto& mark = Brand::mark()) {
        // Shown as a template: only the mark's shape counts, in black.
        tintedMark_ = mark->convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter p(&tintedMark_);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tintedMark_.rect(), Qt::black);
    }
    layoutChildren();
}

void PaletteView::setComposited(bool composited) {
    if (composited_ != composited) {
        composited_ = composited;
        update();
    }
}

void PaletteView::setSkills(std::vector<Skill> skills) {
    setSkillData(SkillListData::make(std::move(skills)));
}

void PaletteView::setSkillData(std::shared_ptr<const SkillListData> list) {
    model_.setSkillData(std::move(list));
    update();
    Q_EMIT shapeChanged();
}

qreal PaletteView::columnX() const {
    return width() - trailingMargin - barWidth + (1 - reveal_) * barWidth;
}

QRectF PaletteView::barRect() const {
    return QRectF(columnX(), topMargin, barWidth, barHeight);
}

QRectF PaletteView::listRect() const {
    const qreal n = static_cast<qreal>(model_.itemCount());
    const qreal h = 2 * listPadding + n * rowHeight + (n - 1) * rowSpacing;
    return QRectF(columnX(), topMargin + barHeight + columnSpacing, barWidth, h);
}

QRectF PaletteView::rowRect(std::size_t row) const {
    const QRectF list = listRect();
    return QRectF(list.x() + listPadding,
                  list.y() + listPadding + static_cast<qreal>(row) * (rowHeight + rowSpacing),
                  barWidth - 2 * listPadding, rowHeight);
}

QRegion PaletteView::paintedRegion() const {
    QPainterPath shape;
    const QRectF bar = barRect();
    shape.addRoundedRect(bar, bar.height() / 2, bar.height() / 2);
    if (reveal_ > 0) {
        shape.addRoundedRect(listRect(), 12, 12);
    }
    return QRegion(shape.toFillPolygon().toPolygon()).intersected(rect());
}

void PaletteView::layoutChildren() {
    const QRectF bar = barRect();
    qreal x = bar.x() + barPaddingX + markSize + barSpacing;
    const QFontMetricsF slashMetrics(uiFont(15, QFont::Normal, true));
    x += slashMetrics.horizontalAdvance(QLatin1Char('/')) + barSpacing;
    const qreal closeX = bar.right() - barPaddingX - 18;
    const qreal fieldHeight = 24;
    query_->setGeometry(
        QRectF(x, bar.center().y() - fieldHeight / 2, closeX - barSpacing - x, fieldHeight)
            .toRect());
    close_->move(QPointF(closeX, bar.center().y() - 9).toPoint());
}

void PaletteView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (entered_) {
        return;
    }
    entered_ = true;
    layoutChildren();
    animateReveal(1, entranceMs, true);
    animateSpin(360, entranceSpinMs);
    // Never cancelled: a palette dismissed sooner still gets this step.
    QTimer::singleShot(focusDelayMs, this, [this] { query_->setFocus(Qt::OtherFocusReason); });
}

void PaletteView::animateReveal(qreal to, int ms, bool out) {
    revealAnimation_->stop();
    revealAnimation_->setStartValue(reveal_);
    revealAnimation_->setEndValue(to);
    revealAnimation_->setDuration(ms);
    revealAnimation_->setEasingCurve(out ? easeOut() : easeIn());
    revealAnimation_->start();
}

void PaletteView::animateSpin(qreal to, int ms) {
    spinAnimation_->stop();
    spinAnimation_->setStartValue(spin_);
    spinAnimation_->setEndValue(to);
    spinAnimation_->setDuration(ms);
    spinAnimation_->setEasingCurve(easeInOut());
    spinAnimation_->start();
}

void PaletteView::dismiss() {
    model_.beginExit();
    query_->clearFocus();
    animateReveal(0, exitMs, false);
    animateSpin(0, exitSpinMs);
    // Each dismissal asks once; the owner ignores a request for a palette already gone.
    QTimer::singleShot(closeDelayMs, this, [this] {
        if (onClose_) {
            onClose_();
        }
    });
}

void PaletteView::perform(PaletteModel::Action action) {
    switch (action.kind) {
    case PaletteModel::Action::Kind::none:
        return;
    case PaletteModel::Action::Kind::run:
        if (onRun_) {
            onRun_(action.skill, action.parameters);
        }
        break;
    case PaletteModel::Action::Kind::createNew:
        if (onCreateNew_) {
            onCreateNew_();
        }
        break;
    }
    dismiss();
}

bool PaletteView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == query_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up) {
            model_.move(key->key() == Qt::Key_Down ? +1 : -1);
            update();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int PaletteView::rowAt(QPointF point) const {
    if (reveal_ <= 0 || !listRect().contains(point)) {
        return -1;
    }
    for (std::size_t i = 0; i < model_.itemCount(); ++i) {
        if (rowRect(i).contains(point)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void PaletteView::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    pressedRow_ = -2;
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (barRect().contains(at)) {
        return;
    }
    if (listRect().contains(at) && reveal_ > 0) {
        pressedRow_ = rowAt(at);
        return;
    }
    pressedRow_ = -3; // the empty part of the panel
}

void PaletteView::mouseReleaseEvent(QMouseEvent* event) {
    const int pressed = pressedRow_;
    pressedRow_ = -2;
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPointF at = event->position();
    if (pressed == -3) {
        if (!barRect().contains(at) && !listRect().contains(at)) {
            dismiss();
        }
        return;
    }
    if (pressed >= 0 && rowAt(at) == pressed) {
        perform(model_.click(static_cast<std::size_t>(pressed)));
    }
}

void PaletteView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Search bar.
    const QRectF bar = barRect();
    QPainterPath capsule;
    capsule.addRoundedRect(bar, bar.height() / 2, bar.height() / 2);
    if (composited_) {
        paintShadow(p, bar, bar.height() / 2, 0.14, 9, 3);
    } else {
        // Nothing blends the panel with the desktop: what shows is this backdrop, opaque, in
        // the colour the material shows at rest, so the translucent paint over it (and the
        // anti-aliased edges) never darkens towards black.
        for (const QRect& r : paintedRegion()) {
            p.fillRect(r, opaqueMaterial);
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(material);
    p.drawPath(capsule);
    p.setPen(QPen(QColor(0, 0, 0, 20), 1));
    p.setBrush(Qt::NoBrush);
    const QRectF inner = bar.adjusted(0.5, 0.5, -0.5, -0.5);
    p.drawRoundedRect(inner, inner.height() / 2, inner.height() / 2);

    const qreal markOpacity = 0.4 + 0.6 * reveal_;
    const QPointF markCentre(bar.x() + barPaddingX + markSize / 2, bar.center().y());
    p.save();
    p.translate(markCentre);
    p.rotate(spin_);
    p.setOpacity(markOpacity);
    if (!tintedMark_.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QSizeF size = tintedMark_.size();
        size.scale(markSize, markSize, Qt::KeepAspectRatio);
        p.drawImage(QRectF(-size.width() / 2, -size.height() / 2, size.width(), size.height()),
                    tintedMark_);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(0, 0), fallbackMarkSize / 2, fallbackMarkSize / 2);
    }
    p.restore();

    p.setFont(uiFont(15, QFont::Normal, true));
    p.setPen(secondary);
    const qreal slashX = bar.x() + barPaddingX + markSize + barSpacing;
    p.drawText(QRectF(slashX, bar.y(), 20, bar.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, QStringLiteral("/"));

    if (reveal_ <= 0) {
        return;
    }

    // Result list, fading with the slide where the desktop composes translucency; without it a
    // fade would pass through dark shades no composed frame shows, so the list just slides.
    const QRectF list = listRect();
    if (composited_) {
        p.setOpacity(reveal_);
        paintShadow(p, list, 12, 0.12, 9, 3);
    }
    QPainterPath panel;
    panel.addRoundedRect(list, 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(material);
    p.drawPath(panel);
    p.setPen(QPen(QColor(0, 0, 0, 15), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(list.adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);

    const auto shown = model_.shown();
    const std::size_t selected = model_.selection();
    const QFont slashFont = uiFont(13, QFont::Medium, true);
    const QFont titleFont = uiFont(13, QFont::Medium);
    const QFont captionFont = uiFont(10, QFont::Normal);
    auto drawRow = [&](std::size_t i, const QString& symbol, qreal symbolPoints,
                       Symbols::Weight weight, const QString& title, const QFont& font,
                       const QString& caption) {
        const QRectF row = rowRect(i);
        if (i == selected) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 20));
            p.drawRoundedRect(row, 8, 8);
        }
        const qreal side = Symbols::sizeForFont(symbolPoints);
        const QRectF iconBox(row.x() + rowPaddingX, row.center().y() - side / 2, iconColumn, side);
        Symbols::paint(p, iconBox, symbol, secondary, weight);
        const qreal textX = row.x() + rowPaddingX + iconColumn + 10;
        const qreal textWidth = row.right() - rowPaddingX - textX;
        const QFontMetricsF titleMetrics(font);
        const QFontMetricsF captionMetrics(captionFont);
        const qreal blockHeight = titleMetrics.height() + 1 + captionMetrics.height();
        const qreal top = row.y() + std::max(rowPaddingY, (row.height() - blockHeight) / 2);
        p.setFont(font);
        p.setPen(primary);
        p.drawText(QRectF(textX, top, textWidth, titleMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   titles_.elided(title, font, textWidth));
        p.setFont(captionFont);
        p.setPen(secondary);
        p.drawText(
            QRectF(textX, top + titleMetrics.height() + 1, textWidth, captionMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            captions_.elided(caption, captionFont, textWidth));
    };
    for (std::size_t i = 0; i < shown.size(); ++i) {
        // Derived once per load of the skills, and bounded.
        const SkillListData::Entry& entry = model_.shownEntry(i);
        drawRow(i, fromUtf8(entry.symbol), 14, Symbols::Weight::medium,
                fromUtf8(entry.slashCommand), slashFont, fromUtf8(entry.name));
    }
    drawRow(shown.size(), QStringLiteral("plus.circle.fill"), 16, Symbols::Weight::regular,
            fromUtf8(model_.createTitle()), titleFont, QStringLiteral("Record a new skill"));
}

} // namespace kestro

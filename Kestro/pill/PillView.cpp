#include "Kestro/pill/PillView.h"

#include "Kestro/text/BoundedText.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QEasingCurve>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTextLayout>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kestro {

namespace {

using Cluster = PillPresentation::Cluster;

constexpr double trailingGap = 6;
constexpr double tipSpacing = 7;
constexpr double caretWidth = 7;
constexpr double caretHeight = 11;
constexpr double bubbleMaxWidth = 210;
constexpr double nameWidth = 58;

const QColor secondary(60, 60, 67, 153);
using Style::easeOut;
using Style::green;
using Style::orange;
using Style::red;
// The open pill's fill, opaque: what a shaped pill draws on where it has no desktop to show.
const QColor base(246, 246, 248);

// The pill's symbols come from the same artwork as everywhere else, at the weight and size of
// the font they stand for.
// Each is drawn from its artwork once per size and colour and then only copied.
void drawSymbol(QPainter& p, const QString& name, const QRectF& r, const QColor& color,
                Symbols::Weight weight = Symbols::Weight::medium) {
    static QHash<QString, QImage> drawn;
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const double side = std::min(r.width(), r.height());
    const QString key = QStringLiteral("%1/%2/%3/%4/%5")
                            .arg(name, color.name(QColor::HexArgb))
                            .arg(int(weight))
                            .arg(side)
                            .arg(dpr);
    auto it = drawn.find(key);
    if (it == drawn.end()) {
        it = drawn.insert(key, Symbols::image(name, side, color, weight, dpr));
    }
    if (!it->isNull()) {
        p.drawImage(QRectF(r.center().x() - side / 2, r.center().y() - side / 2, side, side), *it);
    }
}

QToolButton* symbolButton(QWidget* parent, const QString& toolTip) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(toolTip);
    button->setCursor(Qt::ArrowCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    button->hide();
    return button;
}

// Transform that scales about a point on the trailing edge.
QTransform scaleAbout(QPointF anchor, double scale) {
    QTransform t;
    t.translate(anchor.x(), anchor.y());
    t.scale(scale, scale);
    t.translate(-anchor.x(), -anchor.y());
    return t;
}

} // namespace

QFont PillView::uiFont(double px, QFont::Weight weight, double dpi) {
    QFont f;
    // Points of the design are logical pixels, whatever the screen's dots per inch.
    f.setPointSizeF(px * 72.0 / (dpi > 0 ? dpi : 96.0));
    f.setWeight(weight);
    return f;
}

QFont PillView::font(double px, QFont::Weight weight) const {
    return uiFont(px, weight, logicalDpiY());
}

PillView::PillView(PillModel* model, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint),
      model_(model), recordButton_(symbolButton(this, QStringLiteral("Record (\u2303\u2303)"))),
      skillsButton_(symbolButton(this, QStringLiteral("Skills"))),
      tipClose_(symbolButton(this, QString())), tipLink_(new QPushButton(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The panel never becomes the active window, and the toolkit shows tool tips only for the
    // active one unless told otherwise.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Kestro pill"));
    resize(320, 140);

    // The open pill's buttons are hit areas with tool tips; their symbols are painted with the
    // capsule, so they fade and grow with it.
    recordButton_->setFixedSize(32, 32);
    skillsButton_->setFixedSize(32, 32);
    tipClose_->setFixedSize(14, 14);
    tipClose_->setIconSize(QSize(11, 11));
    tipClose_->setIcon(QIcon(QPixmap::fromImage(Symbols::image(
        QStringLiteral("xmark"), Symbols::sizeForFont(9), secondary, Symbols::Weight::bold, 2))));

    tipLink_->setText(QStringLiteral("Don't show me again, I've got it now"));
    tipLink_->setFlat(true);
    tipLink_->setFocusPolicy(Qt::NoFocus);
    tipLink_->setCursor(Qt::PointingHandCursor);
    QFont linkFont = font(9, QFont::Normal);
    linkFont.setUnderline(true);
    tipLink_->setFont(linkFont);
    tipLink_->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; "
                                           "padding: 0; color: rgba(60,60,67,0.6); }"));
    tipLink_->hide();

    connect(recordButton_, &QToolButton::clicked, this, [this] {
        if (actions_.toggleRecording) {
            actions_.toggleRecording();
        }
    });
    connect(skillsButton_, &QToolButton::clicked, this, [this] {
        if (actions_.showMainWindow) {
            actions_.showMainWindow();
        }
    });
    auto dismiss = [this] {
        if (actions_.dismissTips) {
            actions_.dismissTips();
        }
    };
    connect(tipClose_, &QToolButton::clicked, this, dismiss);
    connect(tipLink_, &QPushButton::clicked, this, dismiss);

    for (QVariantAnimation* a : {&clusterAnimation_, &tipAnimation_}) {
        a->setStartValue(0.0);
        a->setEndValue(1.0);
        a->setEasingCurve(easeOut());
        connect(a, &QVariantAnimation::valueChanged, this, [this] { update(); });
    }
    connect(&clusterAnimation_, &QVariantAnimation::finished, this, [this] {
        leaving_.reset();
        updateMask();
        update();
    });
    connect(&tipAnimation_, &QVariantAnimation::finished, this, [this] {
        leavingTip_.reset();
        updateMask();
        update();
    });
    spinTimer_.setTimerType(Qt::PreciseTimer);
    spinTimer_.setInterval(16);
    connect(&spinTimer_, &QTimer::timeout, this, [this] { update(clusterRect().toAlignedRect()); });
    if (model_) {
        connect(model_, &PillModel::expandedChanged, this, [this] { refresh(true); });
    }
    refresh(false);
}

void PillView::setMark(QImage mark) {
    mark_ = std::move(mark);
    update();
}

void PillView::setInputs(const PillInputs& inputs) {
    if (inputs == inputs_) {
        return;
    }
    if (inputs.successName != inputs_.successName) {
        successFit_.reset();
    }
    inputs_ = inputs;
    refresh(true);
}

double PillView::spinAngle() const {
    if (!spinClock_.isValid()) {
        return 0;
    }
    // One clockwise turn a second, linear.
    const double seconds = static_cast<double>(spinClock_.nsecsElapsed()) / 1e9;
    return std::fmod(seconds, 1.0) * 360.0;
}

double PillView::clusterProgress() const {
    return clusterAnimation_.state() == QAbstractAnimation::Running
               ? clusterAnimation_.currentValue().toDouble()
               : 1.0;
}

void PillView::refresh(bool animate) {
    // A shaped pill has no desktop behind its fades to blend with: it changes at once.
    animate = animate && !masked_;
    const bool expanded = model_ && model_->expanded();
    const Cluster next = PillPresentation::cluster(inputs_, expanded);
    const std::optional<std::string> nextTip = PillPresentation::currentTip(inputs_, expanded);

    if (next != cluster_) {
        const bool spinningBefore = cluster_ == Cluster::creating || cluster_ == Cluster::casting;
        const bool spinningNow = next == Cluster::creating || next == Cluster::casting;
        leaving_ = animate ? std::optional<Cluster>(cluster_) : std::nullopt;
        cluster_ = next;
        if (spinningNow && !spinningBefore) {
            spinClock_.start(); // each showing turns from 0 again
        }
        clusterAnimation_.stop();
        if (animate) {
            const bool byHover = (next == Cluster::expanded || leaving_ == Cluster::expanded) &&
                                 inputs_.status == PillInputs::Status::idle &&
                                 inputs_.state != PillInputs::State::casting;
            clusterAnimation_.setDuration(byHover ? 160 : 200);
            clusterAnimation_.start();
        }
    }
    if (nextTip != tip_) {
        leavingTip_ = animate ? tip_ : std::nullopt;
        tip_ = nextTip;
        tipAnimation_.stop();
        if (animate) {
            tipAnimation_.setDuration(250);
            tipAnimation_.start();
        }
    }
    const bool spinning = cluster_ == Cluster::creating || cluster_ == Cluster::casting;
    if (spinning && isVisible()) {
        spinTimer_.start();
    } else if (!spinning) {
        spinTimer_.stop();
    }
    const bool recording = inputs_.state == PillInputs::State::recording;
    recordButton_->setToolTip(recording ? QStringLiteral("Stop recording")
                                        : QStringLiteral("Record (\u2303\u2303)"));
    layoutChildren();
    updateMask();
    update();
}

QRectF PillView::clusterRectFor(Cluster c) const {
    // The captions never change: measured once.
    if (!captionSizes_) {
        const QFontMetricsF small(font(8.5, QFont::Medium));
        captionSizes_ = std::array<QSizeF, 3>{
            QSizeF(small.horizontalAdvance(QStringLiteral("Building\u2026")), small.height()),
            QSizeF(small.horizontalAdvance(QStringLiteral("Failed")), small.height()),
            QSizeF(0, QFontMetricsF(font(9, QFont::DemiBold)).height())};
    }
    const QSizeF building = (*captionSizes_)[0];
    const QSizeF failed = (*captionSizes_)[1];
    const double nameLine = (*captionSizes_)[2].height();
    QSizeF size;
    switch (c) {
    case Cluster::collapsed:
        size = QSizeF(20, 20);
        break;
    case Cluster::casting:
        size = QSizeF(22, 22);
        break;
    case Cluster::creating:
        size = QSizeF(std::max(22.0, building.width()), 22 + 5 + building.height());
        break;
    case Cluster::failure:
        size = QSizeF(std::max(16.0, failed.width()), 16 + 5 + failed.height());
        break;
    case Cluster::success: {
        const NameFit& fit = successFit();
        const double lines = std::max<qsizetype>(1, fit.lines.size());
        size = QSizeF(nameWidth, 24 + 5 + lines * nameLine * fit.scale);
        break;
    }
    case Cluster::expanded:
        size = QSizeF(5 + 32 + 5, 7 + 32 + 4 + 1 + 4 + 32 + 7);
        break;
    }
    return QRectF(width() - trailingGap - size.width(), (height() - size.height()) / 2,
                  size.width(), size.height());
}

const PillView::NameFit& PillView::successFit() const {
    if (!successFit_) {
        successFit_ = fitName(boundedName(inputs_.successName), font(9, QFont::DemiBold));
    }
    return *successFit_;
}

QString PillView::boundedName(const std::string& name) {
    // More than two lines hold even at the smallest size, and less than the whole of a name
    // that may be any length.
    return boundedText(name, nameBound);
}

QRectF PillView::clusterRect() const {
    return clusterRectFor(cluster_);
}

QSizeF PillView::tipBubbleSize(const QString& text) const {
    if (auto it = tipSizes_.constFind(text); it != tipSizes_.constEnd()) {
        return *it;
    }
    const QSizeF size = measureTipBubble(text);
    tipSizes_.insert(text, size);
    return size;
}

QSizeF PillView::measureTipBubble(const QString& text) const {
    const QFontMetricsF body(font(11, QFont::Medium));
    const QFontMetricsF link(tipLink_->font());
    const double closeWidth = 14;
    const double textMax = bubbleMaxWidth - 22 - 8 - closeWidth;
    const QRectF textBox = body.boundingRect(QRectF(0, 0, textMax, 1e6), Qt::TextWordWrap, text);
    const double linkWidth = link.horizontalAdvance(tipLink_->text());
    const double inner =
        std::min(bubbleMaxWidth - 22, std::max(textBox.width() + 8 + closeWidth, linkWidth));
    return QSizeF(inner + 22, 8 + textBox.height() + 5 + link.height() + 8);
}

QRectF PillView::tipBubbleRect() const {
    const std::optional<std::string>& t = tip_ ? tip_ : leavingTip_;
    if (!t) {
        return {};
    }
    const QSizeF size = tipBubbleSize(QString::fromStdString(*t));
    const double caretRight = clusterRect().left() - tipSpacing;
    const double right = caretRight - caretWidth + 0.5;
    return QRectF(right - size.width(), (height() - size.height()) / 2, size.width(),
                  size.height());
}

QRectF PillView::tipTextRect() const {
    const QRectF bubble = tipBubbleRect();
    return bubble.adjusted(11, 8, -11 - 8 - 14, -8);
}

void PillView::layoutChildren() {
    const bool expandedShown = cluster_ == Cluster::expanded;
    if (expandedShown) {
        const QRectF r = clusterRectFor(Cluster::expanded);
        recordButton_->move(int(std::lround(r.left() + 5)), int(std::lround(r.top() + 7)));
        skillsButton_->move(int(std::lround(r.left() + 5)), int(std::lround(r.top() + 7 + 32 + 9)));
    }
    recordButton_->setVisible(expandedShown);
    skillsButton_->setVisible(expandedShown);

    if (tip_) {
        const QRectF bubble = tipBubbleRect();
        tipClose_->move(int(std::lround(bubble.right() - 11 - 14)),
                        int(std::lround(bubble.top() + 8)));
        const QSize linkSize = tipLink_->sizeHint();
        tipLink_->setGeometry(int(std::lround(bubble.left() + 11)),
                              int(std::lround(bubble.bottom() - 8 - linkSize.height())),
                              std::min(linkSize.width(), int(bubble.width()) - 22),
                              linkSize.height());
    }
    tipClose_->setVisible(tip_.has_value());
    tipLink_->setVisible(tip_.has_value());
}

QRegion PillView::drawnRegion() const {
    QRegion region;
    auto addCluster = [&](Cluster c) {
        const QRectF r = clusterRectFor(c);
        QPainterPath shape;
        if (c == Cluster::collapsed) {
            shape.addEllipse(r.adjusted(-1, -1, 1, 1));
            if (inputs_.state == PillInputs::State::recording) {
                shape.addEllipse(
                    QRectF(r.right() - 8 + 3, r.top() - 3, 8, 8).adjusted(-2, -2, 2, 2));
            }
        } else if (c == Cluster::expanded) {
            shape.addRoundedRect(r.adjusted(-1, -1, 1, 1), r.width() / 2 + 1, r.width() / 2 + 1);
        } else {
            // A capsule round the mark and its caption, painted in the pill's own fill.
            shape.addRoundedRect(r.adjusted(-5, -5, 5, 5), 9, 9);
        }
        region += QRegion(shape.toFillPolygon().toPolygon());
    };
    addCluster(cluster_);
    if (leaving_) {
        addCluster(*leaving_);
    }
    const QRectF bubble = tipBubbleRect();
    if (!bubble.isEmpty()) {
        QPainterPath shape;
        shape.addRoundedRect(bubble, 10, 10);
        QPolygonF caret;
        caret << QPointF(bubble.right() - 0.5, bubble.center().y() - caretHeight / 2)
              << QPointF(bubble.right() - 0.5 + caretWidth, bubble.center().y())
              << QPointF(bubble.right() - 0.5, bubble.center().y() + caretHeight / 2);
        shape.addPolygon(caret);
        region += QRegion(shape.toFillPolygon().toPolygon());
    }
    return region;
}

void PillView::setMasked(bool masked) {
    masked_ = masked;
    updateMask();
}

void PillView::updateMask() {
    if (!masked_) {
        clearMask();
        return;
    }
    QRegion region = drawnRegion();
    if (region.isEmpty()) {
        // An empty mask would show the whole panel; keep a pixel out of the way instead.
        region = QRegion(width() - 1, 0, 1, 1);
    }
    setMask(region);
}

PillView::NameFit PillView::fitName(const QString& name, const QFont& font9) {
    auto layoutLines = [&](double scale, QStringList* lines) {
        QTextLayout layout(name, font9);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setAlignment(Qt::AlignHCenter);
        layout.setTextOption(option);
        layout.beginLayout();
        int count = 0;
        while (true) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(nameWidth / scale);
            if (lines) {
                lines->append(name.mid(line.textStart(), line.textLength()));
            }
            ++count;
        }
        layout.endLayout();
        return count;
    };
    NameFit fit;
    // The largest size, down to 0.6 of the font, at which the name fits on two lines.
    for (int step = 0; step <= 40; ++step) {
        const double scale = 1.0 - 0.01 * step;
        if (layoutLines(scale, nullptr) <= 2) {
            fit.scale = scale;
            layoutLines(scale, &fit.lines);
            for (QString& l : fit.lines) {
                l = l.trimmed();
            }
            return fit;
        }
    }
    fit.scale = 0.6;
    QStringList all;
    layoutLines(0.6, &all);
    const QFontMetricsF metrics(font9);
    const QString rest = name.mid(all.value(0).size());
    fit.lines = {all.value(0).trimmed(),
                 metrics.elidedText(rest.trimmed(), Qt::ElideRight, nameWidth / 0.6)};
    return fit;
}

void PillView::paintMark(QPainter& p, const QRectF& r, const QColor& color) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!mark_.isNull()) {
        // Template rendering: the image's alpha, filled with the colour.
        const qreal dpr = devicePixelRatioF();
        QImage tinted(QSize(int(std::ceil(r.width() * dpr)), int(std::ceil(r.height() * dpr))),
                      QImage::Format_ARGB32_Premultiplied);
        tinted.fill(Qt::transparent);
        {
            QPainter t(&tinted);
            t.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSizeF fitted =
                QSizeF(mark_.size()).scaled(QSizeF(tinted.size()), Qt::KeepAspectRatio);
            t.drawImage(QRectF(QPointF((tinted.width() - fitted.width()) / 2,
                                       (tinted.height() - fitted.height()) / 2),
                               fitted),
                        mark_);
            t.setCompositionMode(QPainter::CompositionMode_SourceIn);
            t.fillRect(tinted.rect(), color);
        }
        tinted.setDevicePixelRatio(dpr);
        p.drawImage(r.topLeft(), tinted);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(r);
    }
    p.restore();
}

void PillView::paintSpinningMark(QPainter& p, const QRectF& r) const {
    p.save();
    p.translate(r.center());
    p.rotate(spinAngle());
    p.translate(-r.center());
    if (mark_.isNull()) {
        // A plain disc shows no turn; a notch makes the spin visible.
        paintMark(p, r, Qt::black);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(r.center().x(), r.top() + r.height() * 0.22), r.width() * 0.1,
                      r.width() * 0.1);
    } else {
        paintMark(p, r, Qt::black);
    }
    p.restore();
}

void PillView::paintCluster(QPainter& p, Cluster c, double progress) {
    const QRectF r = clusterRectFor(c);
    p.save();
    p.setOpacity(p.opacity() * progress);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    switch (c) {
    case Cluster::collapsed: {
        const bool recording = inputs_.state == PillInputs::State::recording;
        p.save();
        p.setOpacity(p.opacity() * (recording ? 0.85 : 0.4));
        if (mark_.isNull()) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        } else {
            paintMark(p, r, Qt::black);
        }
        p.restore();
        if (recording) {
            const QRectF dot(r.right() - 8 + 3, r.top() - 3, 8, 8);
            p.setPen(QPen(Qt::white, 1.5));
            p.setBrush(red);
            p.drawEllipse(dot);
        }
        break;
    }
    case Cluster::casting:
        paintSpinningMark(p, QRectF(r.right() - 22, r.center().y() - 11, 22, 22));
        break;
    case Cluster::creating:
    case Cluster::failure: {
        const double glyph = c == Cluster::creating ? 22 : Symbols::sizeForFont(16);
        const QRectF g(r.center().x() - glyph / 2, r.top(), glyph, glyph);
        if (c == Cluster::creating) {
            paintSpinningMark(p, g);
        } else {
            drawSymbol(p, QStringLiteral("exclamationmark.triangle.fill"), g, orange);
        }
        p.setFont(font(8.5, QFont::Medium));
        p.setPen(secondary);
        p.drawText(QRectF(r.left() - 20, g.bottom() + 5, r.width() + 40, r.bottom() - g.bottom()),
                   Qt::AlignHCenter | Qt::AlignTop,
                   c == Cluster::creating ? QStringLiteral("Building\u2026")
                                          : QStringLiteral("Failed"));
        break;
    }
    case Cluster::success: {
        const QRectF g(r.center().x() - 12, r.top(), 24, 24);
        paintMark(p, g, green);
        const double check = Symbols::sizeForFont(9);
        drawSymbol(p, QStringLiteral("checkmark"),
                   QRectF(g.center().x() - check / 2, g.center().y() - check / 2, check, check),
                   Qt::white, Symbols::Weight::heavy);
        const QFont nameFont = font(9, QFont::DemiBold);
        const NameFit& fit = successFit();
        p.setFont(nameFont);
        p.setPen(green);
        const double lineHeight = QFontMetricsF(nameFont).height();
        p.translate(r.center().x(), g.bottom() + 5);
        p.scale(fit.scale, fit.scale);
        for (int i = 0; i < fit.lines.size(); ++i) {
            p.drawText(QRectF(-nameWidth / fit.scale / 2, i * lineHeight, nameWidth / fit.scale,
                              lineHeight),
                       Qt::AlignHCenter | Qt::AlignTop, fit.lines[i]);
        }
        break;
    }
    case Cluster::expanded: {
        p.setTransform(scaleAbout(QPointF(r.right(), r.center().y()), 0.9 + 0.1 * progress), true);
        if (!masked_) {
            // Soft shadow, 2 to the left and 1 down.
            for (int i = 0; i < 6; ++i) {
                const double grow = 1.5 * (i + 1);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0, 0, 0, int(0.22 * 255 / 6)));
                const QRectF s = r.translated(-2, 1).adjusted(-grow, -grow, grow, grow);
                p.drawRoundedRect(s, s.width() / 2, s.width() / 2);
            }
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(246, 246, 248, 240));
        p.drawRoundedRect(r, r.width() / 2, r.width() / 2);
        p.setPen(QPen(QColor(255, 255, 255, 140), 0.5));
        p.setBrush(Qt::NoBrush);
        const QRectF inner = r.adjusted(0.25, 0.25, -0.25, -0.25);
        p.drawRoundedRect(inner, inner.width() / 2, inner.width() / 2);
        p.setPen(QPen(QColor(0, 0, 0, 40), 1));
        const double y = r.top() + 7 + 32 + 4 + 0.5;
        p.drawLine(QPointF(r.center().x() - 9, y), QPointF(r.center().x() + 9, y));
        const double glyph = Symbols::sizeForFont(14);
        auto button = [&](double top, const QString& name, const QColor& color) {
            const QPointF mid(r.left() + 5 + 16, top + 16);
            drawSymbol(p, name, QRectF(mid.x() - glyph / 2, mid.y() - glyph / 2, glyph, glyph),
                       color);
        };
        const bool recording = inputs_.state == PillInputs::State::recording;
        button(r.top() + 7,
               recording ? QStringLiteral("stop.fill") : QStringLiteral("record.circle"),
               recording ? red : QColor(Qt::black));
        button(r.top() + 7 + 32 + 9, QStringLiteral("square.stack.3d.up"), Qt::black);
        break;
    }
    }
    p.restore();
}

void PillView::paintTip(QPainter& p, const QString& text, double progress) {
    const QSizeF size = tipBubbleSize(text);
    const double caretRight = clusterRect().left() - tipSpacing;
    const QRectF bubble(caretRight - caretWidth + 0.5 - size.width(),
                        (height() - size.height()) / 2, size.width(), size.height());
    p.save();
    p.setOpacity(p.opacity() * progress);
    p.setTransform(scaleAbout(QPointF(caretRight, bubble.center().y()), 0.92 + 0.08 * progress),
                   true);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(bubble, 10, 10);
    QPainterPath caret;
    caret.moveTo(bubble.right() - 0.5, bubble.center().y() - caretHeight / 2);
    caret.lineTo(bubble.right() - 0.5 + caretWidth, bubble.center().y());
    caret.lineTo(bubble.right() - 0.5, bubble.center().y() + caretHeight / 2);
    caret.closeSubpath();
    shape = shape.united(caret);
    if (!masked_) {
        for (int i = 0; i < 5; ++i) {
            const double grow = 1.4 * (i + 1);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, int(0.16 * 255 / 5)));
            p.drawRoundedRect(bubble.translated(0, 2).adjusted(-grow, -grow, grow, grow), 10 + grow,
                              10 + grow);
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(shape);
    p.setPen(Qt::black);
    p.setFont(font(11, QFont::Medium));
    const QRectF textBox = bubble.adjusted(11, 8, -11 - 8 - 14, -8);
    p.drawText(textBox, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
    p.restore();
}

void PillView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(event->rect(), Qt::transparent);
    if (masked_) {
        // Without a compositing manager the server shows what alpha would leave see-through as
        // black: everything inside the shape goes over an opaque fill instead, as a compositor
        // would blend it over a neutral colour.
        for (const QRect& r : mask().intersected(event->rect())) {
            p.fillRect(r, base);
        }
    }
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const double tipProgress = tipAnimation_.state() == QAbstractAnimation::Running
                                   ? tipAnimation_.currentValue().toDouble()
                                   : 1.0;
    if (leavingTip_ && tipAnimation_.state() == QAbstractAnimation::Running) {
        paintTip(p, QString::fromStdString(*leavingTip_), 1.0 - tipProgress);
    }
    if (tip_) {
        paintTip(p, QString::fromStdString(*tip_), tipProgress);
    }
    const bool clusterRunning = clusterAnimation_.state() == QAbstractAnimation::Running;
    const double progress = clusterRunning ? clusterAnimation_.currentValue().toDouble() : 1.0;
    if (leaving_ && clusterRunning) {
        paintCluster(p, *leaving_, 1.0 - progress);
    }
    paintCluster(p, cluster_, progress);
}

void PillView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (cluster_ == Cluster::creating || cluster_ == Cluster::casting) {
        spinTimer_.start();
    }
}

void PillView::hideEvent(QHideEvent* event) {
    spinTimer_.stop();
    QWidget::hideEvent(event);
}

} // namespace kestro

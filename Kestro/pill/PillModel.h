#pragma once

#include <QObject>

namespace kestro {

// The one value the pill's controller and view share: whether the pill is open.
class PillModel final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool expanded() const { return expanded_; }
    // Observers hear of real changes only, not of every poll.
    void setExpanded(bool value) {
        if (expanded_ == value) {
            return;
        }
        expanded_ = value;
        Q_EMIT expandedChanged(value);
    }

signals:
    void expandedChanged(bool expanded);

private:
    bool expanded_ = false;
};

} // namespace kestro

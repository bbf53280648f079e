#include "ui/pill_animations.h"

#include <QVariantAnimation>
#include <algorithm>
#include <array>
#include <cmath>

namespace talvoro {

double popScale(double seconds) {
    constexpr double from = 0.2;
    if (seconds >= popSeconds)
        return 1;
    if (seconds <= 0)
        return from;
    // Underdamped spring on the distance still to go, which starts at −1 and moving at 9.
    constexpr double stiffness = 100, damping = 11, velocity = 9;
    const double omega = std::sqrt(stiffness);
    const double zeta = damping / (2 * omega);
    const double omegaD = omega * std::sqrt(1 - zeta * zeta);
    const double a = -1;
    const double b = (velocity + zeta * omega * a) / omegaD;
    const double left = std::exp(-zeta * omega * seconds) *
                        (a * std::cos(omegaD * seconds) + b * std::sin(omegaD * seconds));
    return from + (1 - from) * (1 + left);
}

double shakeOffset(double seconds) {
    static constexpr std::array<double, 6> offsets{0, -6, 5, -3, 2, 0};
    if (seconds <= 0 || seconds >= shakeSeconds)
        return 0;
    const double position = seconds / shakeSeconds * (offsets.size() - 1);
    const auto step = static_cast<size_t>(position);
    const double within = position - step;
    return offsets[step] + (offsets[step + 1] - offsets[step]) * within;
}

PillAnimations::PillAnimations(std::function<void()> changed) : changed_(std::move(changed)) {
    popAnimation_ = makeAnimation(popSeconds, [this](double t) { glyphScale_ = popScale(t); });
    shakeAnimation_ = makeAnimation(shakeSeconds, [this](double t) {
        offset_ = static_cast<int>(std::lround(shakeOffset(t)));
    });
}

PillAnimations::~PillAnimations() = default;

std::unique_ptr<QVariantAnimation> PillAnimations::makeAnimation(double seconds,
                                                                 std::function<void(double)> step) {
    auto animation = std::make_unique<QVariantAnimation>();
    animation->setStartValue(0.0);
    animation->setEndValue(seconds);
    animation->setDuration(static_cast<int>(std::lround(seconds * 1000)));
    QObject::connect(animation.get(), &QVariantAnimation::valueChanged,
                     [this, step](const QVariant& value) {
                         step(value.toDouble());
                         changed_();
                     });
    return animation;
}

void PillAnimations::pop() {
    popAnimation_->stop();
    glyphScale_ = popScale(0);
    popAnimation_->start();
}

void PillAnimations::shake() {
    shakeAnimation_->stop();
    shakeAnimation_->start();
}

void PillAnimations::stop() {
    popAnimation_->stop();
    shakeAnimation_->stop();
    glyphScale_ = 1;
    offset_ = 0;
}

bool PillAnimations::running() const {
    return popAnimation_->state() == QAbstractAnimation::Running ||
           shakeAnimation_->state() == QAbstractAnimation::Running;
}

} // namespace talvoro

#pragma once

#include <functional>
#include <memory>

class QVariantAnimation;

namespace talvoro {

// The glyph's pop: a spring from 0.2 to full size (stiffness 100, damping 11, initial velocity
// 9), cut at 0.45 s. `seconds` counts from the start; 1 from the end on.
double popScale(double seconds);
inline constexpr double popSeconds = 0.45;

// The pill's shake: horizontal offsets 0, −6, 5, −3, 2, 0 at even steps over 0.3 s.
double shakeOffset(double seconds);
inline constexpr double shakeSeconds = 0.3;

// Runs the pop and the shake on Qt's animation timer, which runs only while one of them does.
class PillAnimations {
public:
    explicit PillAnimations(std::function<void()> changed);
    ~PillAnimations();
    PillAnimations(const PillAnimations&) = delete;
    PillAnimations& operator=(const PillAnimations&) = delete;

    void pop();
    void shake();
    void stop();

    bool running() const;
    double glyphScale() const { return glyphScale_; }
    int horizontalOffset() const { return offset_; }

private:
    std::unique_ptr<QVariantAnimation> makeAnimation(double seconds,
                                                     std::function<void(double)> step);

    std::function<void()> changed_;
    double glyphScale_ = 1;
    int offset_ = 0;
    std::unique_ptr<QVariantAnimation> popAnimation_;
    std::unique_ptr<QVariantAnimation> shakeAnimation_;
};

} // namespace talvoro

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "tui/component/component.h"

namespace tui {
namespace {

// The number a slider moves: the caller's atomic or plain variable.
template <typename T>
class SliderValue {
  public:
    explicit SliderValue(std::atomic<T>* value) : atomic_(value) {}
    explicit SliderValue(T* value) : plain_(value) {}

    T get() const { return atomic_ ? atomic_->load() : *plain_; }
    void set(T value) {
        if (atomic_)
            atomic_->store(value);
        else
            *plain_ = value;
    }

  private:
    std::atomic<T>* atomic_ = nullptr;
    T* plain_ = nullptr;
};

template <typename T>
class SliderBase : public ComponentBase {
  public:
    SliderBase(ConstStringRef label, SliderValue<T> value, T min, T max, T increment)
        : label_(std::move(label)), value_(value), min_(min), max_(max), increment_(increment) {}

    Element Render() override {
        double span = static_cast<double>(max_) - min_;
        double progress = span > 0 ? (static_cast<double>(value_.get()) - min_) / span : 0.0;
        Element row = hbox({
            text(*label_),
            text(" ["),
            gauge(static_cast<float>(progress)) | reflect(gauge_box_),
            text("]"),
        });
        if (Focused())
            row = row | inverted | focus;
        else if (hovered_)
            row = row | bold;
        return row | reflect(box_);
    }

    bool OnEvent(Event event) override {
        if (event.is_mouse())
            return OnMouseEvent(event);
        if (event == Event::ArrowLeft)
            return Store(Step(-1));
        if (event == Event::ArrowRight)
            return Store(Step(+1));
        return false;
    }

    bool Focusable() const override { return true; }

  private:
    bool OnMouseEvent(const Event& event) {
        const Mouse& mouse = event.mouse();
        if (captured_) {
            if (mouse.motion == Mouse::Released) {
                captured_.reset();
                return true;
            }
            if (mouse.motion == Mouse::Moved) {
                Store(AtColumn(mouse.x));
                return true;
            }
        }
        hovered_ = box_.Contain(mouse.x, mouse.y);
        if (!gauge_box_.Contain(mouse.x, mouse.y) || mouse.button != Mouse::Left ||
            mouse.motion != Mouse::Pressed)
            return false;
        captured_ = CaptureMouse(event);
        TakeFocus();
        Store(AtColumn(mouse.x));
        return true;
    }

    // The value `steps` increments away, snapped to the grid of increments from
    // `min`, so that repeated steps do not drift.
    T Step(int steps) const {
        if (!(increment_ > 0))
            return value_.get();
        double index = std::round((static_cast<double>(value_.get()) - min_) / increment_);
        return Clamp(min_ + (index + steps) * increment_);
    }

    T AtColumn(int x) const {
        int width = gauge_box_.x_max - gauge_box_.x_min;
        double fraction = width > 0 ? static_cast<double>(x - gauge_box_.x_min) / width : 0.0;
        double raw = min_ + fraction * (static_cast<double>(max_) - min_);
        if (increment_ > 0)
            raw = min_ + std::round((raw - min_) / increment_) * increment_;
        return Clamp(raw);
    }

    T Clamp(double value) const {
        value = std::clamp(value, static_cast<double>(min_), static_cast<double>(max_));
        if constexpr (std::is_integral_v<T>)
            return static_cast<T>(std::lround(value));
        else
            return static_cast<T>(value);
    }

    // True when the value changed.
    bool Store(T value) {
        if (value == value_.get())
            return false;
        value_.set(value);
        return true;
    }

    ConstStringRef label_;
    SliderValue<T> value_;
    T min_;
    T max_;
    T increment_;
    Box box_;
    Box gauge_box_;
    bool hovered_ = false;
    CapturedMouse captured_;
};

template <typename T, typename Storage>
Component make_slider(ConstStringRef label, Storage* value, T min, T max, T increment) {
    return Make<SliderBase<T>>(std::move(label), SliderValue<T>(value), min, max, increment);
}

}  // namespace

Component Slider(ConstStringRef label, std::atomic<int>* value, int min, int max, int increment) {
    return make_slider<int>(std::move(label), value, min, max, increment);
}

Component Slider(ConstStringRef label, std::atomic<float>* value, float min, float max,
                 float increment) {
    return make_slider<float>(std::move(label), value, min, max, increment);
}

Component Slider(ConstStringRef label, int* value, int min, int max, int increment) {
    return make_slider<int>(std::move(label), value, min, max, increment);
}

Component Slider(ConstStringRef label, float* value, float min, float max, float increment) {
    return make_slider<float>(std::move(label), value, min, max, increment);
}

}  // namespace tui

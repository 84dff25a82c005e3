#include <gtest/gtest.h>

#include <atomic>

#include "tui/component/component.h"
#include "tui_events.h"

using namespace tui;

namespace {

// A component that can hold the focus and records the events it is offered.
class Probe : public ComponentBase {
  public:
    explicit Probe(bool focusable = true, bool consume = false)
        : focusable_(focusable), consume_(consume) {}
    bool Focusable() const override { return focusable_; }
    bool OnEvent(Event event) override {
        seen.push_back(event);
        return consume_;
    }
    std::vector<Event> seen;

  private:
    bool focusable_;
    bool consume_;
};

std::string render(const Component& component, int width, int height) {
    Screen screen(width, height);
    Render(screen, component->Render());
    return screen.ToString();
}

Event click(int x, int y, Mouse::Button button = Mouse::Left,
            Mouse::Motion motion = Mouse::Pressed) {
    return quarn_test::mouse_event(x, y, button, motion);
}

}  // namespace

TEST(TuiContainer, ArrowsMoveBetweenFocusableChildrenAndStopAtTheEnds) {
    auto a = Make<Probe>();
    auto spacer = Make<Probe>(false);
    auto b = Make<Probe>();
    auto column = Container::Vertical({a, spacer, b});
    EXPECT_TRUE(a->Focused());
    EXPECT_TRUE(column->OnEvent(Event::ArrowDown));
    EXPECT_TRUE(b->Focused());  // the spacer is skipped
    EXPECT_FALSE(a->Focused());
    EXPECT_FALSE(column->OnEvent(Event::ArrowDown));  // no wrap with arrows
    EXPECT_TRUE(column->OnEvent(Event::ArrowUp));
    EXPECT_TRUE(a->Focused());
    EXPECT_FALSE(column->OnEvent(Event::ArrowLeft));  // not its direction
}

TEST(TuiContainer, TabWrapsAroundTheRing) {
    auto a = Make<Probe>();
    auto b = Make<Probe>();
    auto c = Make<Probe>();
    auto row = Container::Horizontal({a, b, c});
    EXPECT_TRUE(row->OnEvent(Event::Tab));
    EXPECT_TRUE(b->Focused());
    row->OnEvent(Event::Tab);
    row->OnEvent(Event::Tab);
    EXPECT_TRUE(a->Focused());
    row->OnEvent(Event::TabReverse);
    EXPECT_TRUE(c->Focused());
    EXPECT_TRUE(row->OnEvent(Event::ArrowLeft));
    EXPECT_TRUE(b->Focused());
}

TEST(TuiContainer, KeysGoToTheActiveChildFirstAndMouseToEveryChild) {
    auto greedy = Make<Probe>(true, true);
    auto other = Make<Probe>();
    auto column = Container::Vertical({greedy, other});
    EXPECT_TRUE(column->OnEvent(Event::ArrowDown));  // used by the child, focus stays
    EXPECT_TRUE(greedy->Focused());
    EXPECT_TRUE(other->seen.empty());

    auto first = Make<Probe>();
    auto second = Make<Probe>();
    auto pair = Container::Vertical({first, second});
    EXPECT_FALSE(pair->OnEvent(click(0, 0)));
    EXPECT_EQ(first->seen.size(), 1u);
    EXPECT_EQ(second->seen.size(), 1u);
}

TEST(TuiContainer, TakeFocusActivatesTheWholePath) {
    auto left = Make<Probe>();
    auto inner_a = Make<Probe>();
    auto inner_b = Make<Probe>();
    auto inner = Container::Vertical({inner_a, inner_b});
    auto root = Container::Horizontal({left, inner});
    EXPECT_TRUE(left->Focused());
    inner_b->TakeFocus();
    EXPECT_TRUE(inner_b->Focused());
    EXPECT_FALSE(left->Focused());
    EXPECT_FALSE(inner_a->Focused());
    EXPECT_TRUE(inner->Active());

    // A column whose first child cannot hold the focus hands it to one that can.
    auto label = Renderer([] { return text("label"); });
    auto list = Make<Probe>();
    auto right = Container::Vertical({label, list});
    EXPECT_TRUE(list->Focused());
    EXPECT_FALSE(label->Focusable());
}

TEST(TuiComponent, CatchEventSeesEventsFirstAndPassesTheRestOn) {
    auto child = Make<Probe>(true, true);
    std::vector<Event> caught;
    auto catcher = CatchEvent(child, [&](Event event) {
        caught.push_back(event);
        return event == Event::Tab;
    });
    EXPECT_TRUE(catcher->OnEvent(Event::Tab));
    EXPECT_TRUE(child->seen.empty());
    EXPECT_TRUE(catcher->OnEvent(Event::Custom));
    ASSERT_EQ(child->seen.size(), 1u);
    EXPECT_EQ(child->seen[0], Event::Custom);
    EXPECT_EQ(caught.size(), 2u);
}

TEST(TuiComponent, RendererDrawsAndForwardsToItsChild) {
    auto child = Make<Probe>(true, true);
    auto renderer = Renderer(child, [] { return text("drawn"); });
    EXPECT_EQ(render(renderer, 5, 1), "drawn");
    EXPECT_TRUE(renderer->Focusable());
    EXPECT_TRUE(renderer->OnEvent(Event::Character("x")));
    EXPECT_EQ(child->seen.size(), 1u);
}

TEST(TuiCheckbox, FlipsTheFlagThenCallsOnChange) {
    bool checked = false;
    bool seen_in_callback = false;
    int calls = 0;
    CheckboxOption option;
    option.on_change = [&] {
        ++calls;
        seen_in_callback = checked;
    };
    auto checkbox = Checkbox("Play", &checked, option);
    EXPECT_EQ(render(checkbox, 10, 1), "[ ] Play  ");
    EXPECT_TRUE(checkbox->OnEvent(Event::Return));
    EXPECT_TRUE(checked);
    EXPECT_TRUE(seen_in_callback);
    EXPECT_EQ(render(checkbox, 10, 1), "[X] Play  ");
    EXPECT_TRUE(checkbox->OnEvent(Event::Character(" ")));
    EXPECT_FALSE(checked);
    EXPECT_FALSE(checkbox->OnEvent(Event::Character("x")));
    EXPECT_EQ(calls, 2);

    // A click inside flips it, one outside or with another button does not.
    EXPECT_FALSE(checkbox->OnEvent(click(3, 5)));
    EXPECT_FALSE(checkbox->OnEvent(click(2, 0, Mouse::Right)));
    EXPECT_TRUE(checkbox->OnEvent(click(2, 0)));
    EXPECT_TRUE(checked);
    EXPECT_EQ(calls, 3);
}

TEST(TuiCheckbox, FocusedOneIsInverted) {
    bool checked = false;
    auto checkbox = Checkbox("Basic", &checked);
    Screen screen(9, 1);
    Render(screen, checkbox->Render());
    EXPECT_TRUE(screen.PixelAt(0, 0).inverted);  // a root holds the focus
    auto other = Checkbox("Other", &checked);
    auto column = Container::Vertical({other, checkbox});
    Screen again(9, 1);
    Render(again, checkbox->Render());
    EXPECT_FALSE(again.PixelAt(0, 0).inverted);
}

TEST(TuiSlider, IntegerStepsStopAtTheLimitsAndStoreIntoTheAtomic) {
    std::atomic<int> bpm{238};
    auto slider = Slider("BPM   ", &bpm, 20, 240, 1);
    EXPECT_TRUE(slider->OnEvent(Event::ArrowRight));
    EXPECT_EQ(bpm.load(), 239);
    EXPECT_TRUE(slider->OnEvent(Event::ArrowRight));
    EXPECT_EQ(bpm.load(), 240);
    EXPECT_FALSE(slider->OnEvent(Event::ArrowRight));  // at the end: left to the containers
    EXPECT_EQ(bpm.load(), 240);
    bpm = 21;
    EXPECT_TRUE(slider->OnEvent(Event::ArrowLeft));
    EXPECT_FALSE(slider->OnEvent(Event::ArrowLeft));
    EXPECT_EQ(bpm.load(), 20);
    // A value out of range (set elsewhere) comes back into range on the next step.
    bpm = 500;
    EXPECT_TRUE(slider->OnEvent(Event::ArrowLeft));
    EXPECT_EQ(bpm.load(), 240);
}

TEST(TuiSlider, FloatStepsDoNotDrift) {
    std::atomic<float> volume{0.0f};
    auto slider = Slider("Volume", &volume, 0.0f, 1.0f, 0.05f);
    for (int i = 0; i < 25; ++i)
        slider->OnEvent(Event::ArrowRight);
    EXPECT_EQ(volume.load(), 1.0f);
    for (int i = 0; i < 10; ++i)
        slider->OnEvent(Event::ArrowLeft);
    EXPECT_NEAR(volume.load(), 0.5f, 1e-6);
    for (int i = 0; i < 30; ++i)
        slider->OnEvent(Event::ArrowLeft);
    EXPECT_EQ(volume.load(), 0.0f);
    // Steps land on the grid of increments even from a value between two marks.
    volume = 0.37f;
    slider->OnEvent(Event::ArrowRight);
    EXPECT_NEAR(volume.load(), 0.40f, 1e-6);
}

TEST(TuiSlider, ShowsTheCurrentValueAndFollowsAClick) {
    int value = 0;
    auto slider = Slider("V", &value, 0, 10, 1);
    EXPECT_EQ(render(slider, 14, 1), "V [          ]");
    value = 10;
    EXPECT_EQ(render(slider, 14, 1), "V [██████████]");
    value = 5;
    EXPECT_EQ(render(slider, 14, 1), "V [█████     ]");
    // The bar spans columns 3 to 12: its first column is the minimum, its last the maximum.
    EXPECT_TRUE(slider->OnEvent(click(3, 0)));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(slider->OnEvent(click(12, 0, Mouse::Left, Mouse::Moved)));
    EXPECT_EQ(value, 10);
    EXPECT_TRUE(slider->OnEvent(click(12, 0, Mouse::Left, Mouse::Released)));
    EXPECT_FALSE(slider->OnEvent(click(5, 0, Mouse::None, Mouse::Moved)));  // released: no drag
    EXPECT_EQ(value, 10);
}

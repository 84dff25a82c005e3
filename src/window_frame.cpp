#include "window_frame.h"

#include <algorithm>
#include <utility>

const std::array<std::array<std::string, 6>, 6> simple_border_charset{{
    {"┌", "┐", "└", "┘", "─", "│"},
    {"┏", "┓", "┗", "┛", "━", "┃"},
    {"╔", "╗", "╚", "╝", "═", "║"},
    {"╭", "╮", "╰", "╯", "─", "│"},
    {" ", " ", " ", " ", " ", " "},
    {"", "", "", "", "", ""},
}};

custom_Border::custom_Border(tui::Elements children, custom_BorderStyle style)
    : tui::Node(std::move(children)) {
    if (children_.empty())
        children_.push_back(tui::text(""));
    const auto& row = simple_border_charset[static_cast<size_t>(style)];
    charset_strings.assign(row.begin(), row.end());
}

void custom_Border::ComputeRequirement() {
    tui::Node::ComputeRequirement();
    requirement_ = children_[0]->requirement();
    requirement_.min_x += 2;
    requirement_.min_y += 2;
    if (children_.size() == 2)
        requirement_.min_x = std::max(requirement_.min_x, children_[1]->requirement().min_x + 2);
    requirement_.selected_box.x_min += 1;
    requirement_.selected_box.x_max += 1;
    requirement_.selected_box.y_min += 1;
    requirement_.selected_box.y_max += 1;
}

void custom_Border::SetBox(tui::Box box) {
    tui::Node::SetBox(box);
    if (children_.size() == 2)
        children_[1]->SetBox(tui::Box{box.x_min + 1, box.x_max - 1, box.y_min, box.y_min});
    children_[0]->SetBox(tui::Box{box.x_min + 1, box.x_max - 1, box.y_min + 1, box.y_max - 1});
}

void custom_Border::Render(tui::Screen& screen) {
    children_[0]->Render(screen);
    if (box_.x_min >= box_.x_max || box_.y_min >= box_.y_max)
        return;
    RenderPixel(screen);
    if (children_.size() == 2)
        children_[1]->Render(screen);
}

void custom_Border::RenderPixel(tui::Screen& screen) {
    const tui::Box& b = box_;
    screen.at(b.x_min, b.y_min) = charset_strings[0];
    screen.at(b.x_max, b.y_min) = charset_strings[1];
    screen.at(b.x_min, b.y_max) = charset_strings[2];
    screen.at(b.x_max, b.y_max) = charset_strings[3];
    for (int x = b.x_min + 1; x < b.x_max; ++x) {
        screen.at(x, b.y_min) = charset_strings[4];
        screen.at(x, b.y_max) = charset_strings[4];
    }
    for (int y = b.y_min + 1; y < b.y_max; ++y) {
        screen.at(b.x_min, y) = charset_strings[5];
        screen.at(b.x_max, y) = charset_strings[5];
    }
}

tui::Element custom_window(tui::Element title, tui::Element content) {
    return std::make_shared<custom_Border>(tui::Elements{std::move(content), std::move(title)},
                                           LIGHT);
}

tui::Component Window(std::wstring title, tui::Component component, int height) {
    auto render = [component, title = std::move(title), height] {
        tui::Element window = custom_window(tui::text(title), component->Render()) | tui::xflex;
        if (height < 0)
            return window | tui::yflex;
        return window | tui::size(tui::HEIGHT, tui::EQUAL, height);
    };
    return tui::Renderer(component, std::move(render));
}
